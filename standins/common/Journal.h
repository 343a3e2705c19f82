// Shared by the stand-ins: a journal line per call, and steering through the environment.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/Words.h"

namespace standin {

inline std::string Env(const char* name, const std::string& fallback = {}) {
  char buffer[32768];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return fallback;
  return std::string(buffer, n);
}

inline int EnvInt(const char* name, int fallback) {
  std::string text = Env(name);
  if (text.empty()) return fallback;
  // Exit codes such as 0xC1420116 come in hexadecimal or as large or negative decimals.
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  long long value = std::strtoll(text.c_str(), nullptr, hex ? 16 : 10);
  return static_cast<int>(static_cast<unsigned int>(value));
}

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The command line after the first `skipWords` words (the program's own path is word one),
// exactly as received apart from the blanks around it. Quotes count as the C runtime counts
// them for the program's path: a quoted path ends at its closing quote.
inline std::string ArgumentText(int skipWords = 1) {
  const char* p = GetCommandLineA();
  for (int word = 0; word < skipWords; ++word) {
    while (IsBlank(*p)) ++p;
    bool quoted = false;
    while (*p && (quoted || !IsBlank(*p))) {
      if (*p == '"') quoted = !quoted;
      ++p;
    }
  }
  while (IsBlank(*p)) ++p;
  std::string text = p;
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r' || text.back() == '\n')) {
    text.pop_back();
  }
  return text;
}

// The program's own word splitting: /MountDir:"C:\a b" gives /MountDir:C:\a b.
using bw::SplitWords;

// Appends "<name> <arguments>" (or just "<name>" without arguments) to the file that
// BW_JOURNAL names, if any.
inline void JournalLine(const std::string& name, const std::string& arguments) {
  std::string path = Env("BW_JOURNAL");
  if (path.empty()) return;
  std::string line = name + (arguments.empty() ? "" : " " + arguments) + "\r\n";
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
      return;
    }
    Sleep(20);
  }
}

// Appends "<name> <arguments exactly as received, without the program's own path>".
inline void Journal(const std::string& name) { JournalLine(name, ArgumentText()); }

// A steered failure or bad usage: one line on standard error, then the code.
inline int Fail(const std::string& name, int code, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", name.c_str(), message.c_str());
  std::fflush(stderr);
  return code;
}

// Sleeps for the milliseconds that the variable names, if any (lets tests cancel a run).
inline void Delay(const char* variable) {
  int ms = EnvInt(variable, 0);
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

}  // namespace standin
