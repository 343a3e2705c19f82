// Stand-in for ping.exe, which the recovery start-up script uses as a 40-second pause: it
// answers at once (or after BW_PING_WAIT_MS) so the tests need not wait.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Journal.h"

int main(int argc, char** argv) {
  standin::Journal("ping");
  std::string host;
  long count = 4;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool option = arg[0] == '-' || arg[0] == '/';
    std::string name = option ? arg.substr(1) : "";
    if (option && (name == "n" || name == "w" || name == "l" || name == "i") && i + 1 < argc) {
      char* end = nullptr;
      long value = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || value < 1) {
        std::fprintf(stderr, "Bad value for option -%s.\n", name.c_str());
        return 1;
      }
      if (name == "n") count = value;
    } else if (option && (name == "t" || name == "4" || name == "6")) {
    } else if (!option && host.empty()) {
      host = arg;
    } else {
      std::fprintf(stderr, "Bad option %s.\n", arg.c_str());
      return 1;
    }
  }
  if (host.empty()) {
    std::fprintf(stderr, "IP address must be specified.\n");
    return 1;
  }
  std::printf("\nPinging %s [127.0.0.1] with 32 bytes of data:\n", host.c_str());
  for (long i = 0; i < count; ++i) std::printf("Reply from 127.0.0.1: bytes=32 time<1ms TTL=128\n");
  std::fflush(stdout);
  int ms = standin::EnvInt("BW_PING_WAIT_MS", 0);
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
  return 0;
}
