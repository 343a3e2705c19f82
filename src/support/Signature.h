#pragma once

#include <string>

namespace bw {

// True when the file carries a valid Authenticode signature. On false the thread's last
// error holds the trust service's reason.
bool VerifyFileSignature(const std::wstring& path);

// The name its signer's certificate gives (the common name, else the first name it has);
// empty for a file without a signature.
std::string GetFileSigner(const std::wstring& path);

}  // namespace bw
