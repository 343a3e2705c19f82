// Checks a signed program as the wizard checks its downloads and prints its signer's name:
//   bw_signcheck <file>
// Exit code 0 for a valid signature, 1 otherwise. Run by scripts/sign under Wine.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/Signature.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bw_signcheck <file>\n", stderr);
    return 2;
  }
  const int length = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, nullptr, 0);
  std::wstring path(length > 0 ? length - 1 : 0, L'\0');
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path.data(), length);
  if (!bw::VerifyFileSignature(path)) {
    std::fprintf(stderr, "%s: no valid signature (0x%08lX)\n", argv[1],
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::printf("Signed by: %s\n", bw::GetFileSigner(path).c_str());
  return 0;
}
