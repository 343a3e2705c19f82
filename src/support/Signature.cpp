#include "support/Signature.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

namespace bw {

bool VerifyFileSignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = 0;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  // Wine leaves the last error alone; callers read the reason from there.
  if (status != 0) SetLastError(static_cast<DWORD>(status));
  return status == 0;
}

}  // namespace bw
