#include "app/FormStorage.h"

#include <cstring>
#include <vector>

#include "support/Errors.h"
#include "support/Handles.h"

namespace bw {

std::optional<std::string> FormStorage::Read(const std::string& name) const {
  UniqueKey key;
  LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_QUERY_VALUE, key.put());
  if (rc == ERROR_FILE_NOT_FOUND) return std::nullopt;
  CheckWin32Error(rc, "HKEY_CURRENT_USER\\" + key_);
  DWORD type = 0;
  DWORD size = 0;
  rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return std::nullopt;
  CheckWin32Error(rc, name);
  std::vector<char> data(size + 1, '\0');
  rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                        reinterpret_cast<BYTE*>(data.data()), &size);
  CheckWin32Error(rc, name);
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number = 0;
    memcpy(&number, data.data(), sizeof number);
    return std::to_string(number);
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::string();
  return std::string(data.data());  // up to the first NUL
}

void FormStorage::Write(const std::string& name, const std::string& value) const {
  UniqueKey key;
  LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.put(), nullptr);
  CheckWin32Error(rc, "HKEY_CURRENT_USER\\" + key_);
  rc = RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                      reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>(value.size() + 1));
  CheckWin32Error(rc, name);
}

}  // namespace bw
