#include "support/Versions.h"

#include <vector>

#include "support/SystemDlls.h"

namespace bw {

std::string FormatVersion(DWORD ms, DWORD ls) {
  return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
         std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
}

std::string GetFileVersionString(const std::string& path) {
  std::string result = "0.0.0.0";
  try {
    DWORD handle = 0;
    const DWORD size = sys::GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return result;
    std::vector<char> buffer(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (sys::GetFileVersionInfoA(path.c_str(), 0, size, buffer.data()) &&
        sys::VerQueryValueA(buffer.data(), "\\", reinterpret_cast<void**>(&info), &infoLength) &&
        info != nullptr && infoLength >= sizeof(VS_FIXEDFILEINFO)) {
      result = FormatVersion(info->dwFileVersionMS, info->dwFileVersionLS);
    }
  } catch (...) {
    result = "0.0.0.0";
  }
  return result;
}

}  // namespace bw
