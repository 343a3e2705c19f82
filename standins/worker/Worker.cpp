// Stand-in for the backup worker TXBWorker.exe: finds a "server" and "connects" as told by
// the environment, so the recovery start-up script can be run through every path.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/Journal.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr, "TXBWorker: %s\n", why);
  std::fprintf(stderr, "usage: TXBWorker -discover | -recovery NAME SERVER:PORT [IP MASK GW]\n");
  return 87;  // ERROR_INVALID_PARAMETER
}

void Delay() {
  int ms = standin::EnvInt("BW_WORKER_DELAY_MS", 0);
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

int Discover() {
  Delay();
  int code = standin::EnvInt("BW_WORKER_DISCOVER_EXIT", 0);
  if (code != 0) {
    std::fprintf(stderr, "No backup server answered.\n");
    return code;
  }
  // Only the first line is the address; the script reads nothing else.
  std::printf("%s\n", standin::Env("BW_WORKER_SERVER", "192.168.1.10").c_str());
  return 0;
}

int Recovery(const std::vector<std::string>& words) {
  if (words.size() < 2 || words.size() > 5) {
    return Usage("-recovery takes two to five words: NAME SERVER:PORT [IP MASK GW]");
  }
  Delay();
  std::printf("Connecting as %s to %s", words[0].c_str(), words[1].c_str());
  for (size_t i = 2; i < words.size(); ++i) std::printf(" %s", words[i].c_str());
  std::printf("\n");
  int code = standin::EnvInt("BW_WORKER_RECOVERY_EXIT", 0);
  std::printf("Recovery connection ended with code %d.\n", code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  standin::Journal("TXBWorker");
  std::fflush(stdout);
  if (argc < 2) return Usage("no mode given");
  std::string mode = argv[1];
  if (lstrcmpiA(mode.c_str(), "-discover") == 0) {
    if (argc != 2) return Usage("-discover takes no words");
    int code = Discover();
    std::fflush(stdout);
    return code;
  }
  if (lstrcmpiA(mode.c_str(), "-recovery") == 0) {
    int code = Recovery(std::vector<std::string>(argv + 2, argv + argc));
    std::fflush(stdout);
    return code;
  }
  return Usage(("unknown mode " + mode).c_str());
}
