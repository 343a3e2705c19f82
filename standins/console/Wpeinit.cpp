// Stand-in for wpeinit.exe, which readies a Windows PE system's devices and network.
#include <cstdio>
#include <string>

#include "common/Journal.h"

int main(int argc, char** argv) {
  standin::Journal("wpeinit");
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("-unattend:", 0) != 0 && arg.rfind("/unattend:", 0) != 0) {
      std::fprintf(stderr, "wpeinit: unknown argument %s\n", arg.c_str());
      return 87;
    }
  }
  return standin::EnvInt("BW_WPEINIT_EXIT", 0);
}
