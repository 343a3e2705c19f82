// Stand-in for timeout.exe, which Windows PE carries and Wine lacks. A key press on a console
// ends the wait early (unless /nobreak); piped input is left to whoever reads it next.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ConsoleInput.h"
#include "common/Journal.h"

namespace {

int Fail(const std::string& why) {
  std::fprintf(stderr, "ERROR: %s\nType \"TIMEOUT /?\" for usage.\n", why.c_str());
  return 1;
}

bool IsSwitch(const std::string& arg, const char* name) {
  return (arg[0] == '/' || arg[0] == '-') && lstrcmpiA(arg.c_str() + 1, name) == 0;
}

bool ParseSeconds(const std::string& text, long* seconds) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < -1 || value > 99999) return false;
  *seconds = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  standin::Journal("timeout");
  long seconds = 0;
  bool haveSeconds = false;
  bool noBreak = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (IsSwitch(arg, "t") && i + 1 < argc) {
      if (!ParseSeconds(argv[++i], &seconds)) return Fail("Invalid value for timeout (/T).");
      haveSeconds = true;
    } else if (IsSwitch(arg, "nobreak")) {
      noBreak = true;
    } else if (!haveSeconds && ParseSeconds(arg, &seconds)) {
      haveSeconds = true;
    } else {
      return Fail("Invalid syntax. Unexpected argument '" + arg + "'.");
    }
  }
  if (!haveSeconds) return Fail("Invalid syntax. Default option is not allowed.");

  if (seconds < 0) {
    std::printf("\nPress any key to continue ...");
  } else {
    std::printf("\nWaiting for %ld seconds, press %s ...", seconds,
                noBreak ? "CTRL+C to quit" : "a key to continue");
  }
  std::fflush(stdout);
  DWORD wait = seconds < 0 ? INFINITE : static_cast<DWORD>(seconds) * 1000;
  std::string override = standin::Env("BW_TIMEOUT_WAIT_MS");
  if (!override.empty()) wait = static_cast<DWORD>(std::atoi(override.c_str()));
  if (!noBreak && standin::InputIsConsole()) {
    standin::WaitForKey(wait, [](char) { return true; });
  } else if (wait == INFINITE) {
    return Fail("Nothing can end an endless wait without a console.");
  } else {
    Sleep(wait);
  }
  std::printf("\n");
  return 0;
}
