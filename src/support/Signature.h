#pragma once

#include <string>

namespace bw {

// True when the file carries a valid Authenticode signature. On false the thread's last
// error holds the trust service's reason.
bool VerifyFileSignature(const std::wstring& path);

}  // namespace bw
