#include "support/Registry.h"

#include <vector>

#include "support/Handles.h"

namespace bw {

std::string ReadRegistryString(HKEY root, const std::string& subKey, const std::string& name,
                               REGSAM view) {
  constexpr DWORD kBufferSize = 32768;
  UniqueKey key;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) {
    return {};
  }
  std::vector<char> buffer(kBufferSize, 0);
  DWORD size = kBufferSize;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
    return {};
  }
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != 0) ++length;
  return std::string(buffer.data(), length);
}

}  // namespace bw
