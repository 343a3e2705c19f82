// Stand-in for choice.exe, which Windows PE carries and Wine lacks (Wine's cmd has a built-in
// that ignores /t, /d and piped keys). Exit code: the 1-based position of the chosen key, or
// 255 on a usage error, as the real tool.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ConsoleInput.h"
#include "common/Journal.h"

namespace {

constexpr int kUsageError = 255;

int Fail(const std::string& why) {
  std::fprintf(stderr, "ERROR: %s\nType \"CHOICE /?\" for usage.\n", why.c_str());
  return kUsageError;
}

bool IsSwitch(const std::string& arg, const char* name) {
  return (arg[0] == '/' || arg[0] == '-') && lstrcmpiA(arg.c_str() + 1, name) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  standin::Journal("choice");
  std::string keys = "YN";
  std::string message;
  int seconds = -1;
  char fallback = 0;
  bool hideList = false;
  bool caseSensitive = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (IsSwitch(arg, "c") && hasValue) {
      keys = argv[++i];
    } else if (IsSwitch(arg, "t") && hasValue) {
      std::string text = argv[++i];
      char* end = nullptr;
      long value = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || value < 0 || value > 9999) {
        return Fail("Invalid value for /T: " + text);
      }
      seconds = static_cast<int>(value);
    } else if (IsSwitch(arg, "d") && hasValue) {
      std::string text = argv[++i];
      if (text.size() != 1) return Fail("Invalid value for /D: " + text);
      fallback = text[0];
    } else if (IsSwitch(arg, "m") && hasValue) {
      message = argv[++i];
    } else if (IsSwitch(arg, "n")) {
      hideList = true;
    } else if (IsSwitch(arg, "cs")) {
      caseSensitive = true;
    } else {
      return Fail("Invalid argument/option - '" + arg + "'.");
    }
  }
  if (keys.empty()) return Fail("Empty list of choices.");
  auto position = [&](char key) -> int {
    for (size_t i = 0; i < keys.size(); ++i) {
      if (caseSensitive ? keys[i] == key
                        : std::toupper(static_cast<unsigned char>(keys[i])) ==
                              std::toupper(static_cast<unsigned char>(key))) {
        return static_cast<int>(i) + 1;
      }
    }
    return 0;
  };
  if (seconds >= 0 && fallback == 0) return Fail("/T needs a default choice given by /D.");
  if (fallback != 0 && seconds < 0) return Fail("/D needs a timeout given by /T.");
  if (fallback != 0 && position(fallback) == 0) {
    return Fail("The default choice is not one of the choices given by /C.");
  }

  std::string forced = standin::Env("BW_CHOICE_EXIT");
  if (!forced.empty()) return std::atoi(forced.c_str());

  std::string prompt = message;
  if (!hideList) {
    if (!prompt.empty()) prompt += ' ';
    prompt += '[';
    for (size_t i = 0; i < keys.size(); ++i) {
      if (i > 0) prompt += ',';
      prompt += keys[i];
    }
    prompt += "]?";
  }
  std::fputs(prompt.c_str(), stdout);
  std::fflush(stdout);

  char key = 0;
  std::string answer = standin::Env("BW_CHOICE_ANSWER");
  if (!answer.empty()) {
    key = answer[0];
    if (position(key) == 0) return Fail("BW_CHOICE_ANSWER is not one of the choices.");
  } else {
    DWORD wait = seconds < 0 ? INFINITE : static_cast<DWORD>(seconds) * 1000;
    std::string override = standin::Env("BW_CHOICE_WAIT_MS");
    if (!override.empty() && seconds >= 0) wait = static_cast<DWORD>(std::atoi(override.c_str()));
    key = standin::WaitForKey(wait, [&](char k) { return position(k) != 0; });
    if (key == 0) {
      if (fallback == 0) return Fail("No key was given.");
      key = fallback;
    }
  }
  int index = position(key);
  std::printf("%c\n", keys[index - 1]);
  std::fflush(stdout);
  return index;
}
