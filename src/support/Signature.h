#pragma once

#include <windows.h>

#include <string>

namespace bw {

// True when the file carries a valid Authenticode signature. On false the thread's last
// error holds the trust service's reason.
bool VerifyFileSignature(const std::wstring& path);

// As above for the file open in `file`, read through that handle only, so that what was
// checked is what the handle holds; on true `signer` is the name the signature's signer
// certificate gives. `path` names the file to the trust service.
bool VerifyFileSignature(HANDLE file, const std::wstring& path, std::string& signer);

// The name its signer's certificate gives (the common name, else the first name it has);
// empty for a file without a signature.
std::string GetFileSigner(const std::wstring& path);

}  // namespace bw
