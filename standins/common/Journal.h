// Shared by the stand-ins: a journal line per call, and steering through the environment.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace standin {

inline std::string Env(const char* name, const std::string& fallback = {}) {
  char buffer[32768];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return fallback;
  return std::string(buffer, n);
}

inline int EnvInt(const char* name, int fallback) {
  std::string text = Env(name);
  return text.empty() ? fallback : std::atoi(text.c_str());
}

// Appends "<name> <full command line>" to the file that BW_JOURNAL names, if any.
inline void Journal(const std::string& name) {
  std::string path = Env("BW_JOURNAL");
  if (path.empty()) return;
  std::string line = name + " " + GetCommandLineA() + "\r\n";
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
      return;
    }
    Sleep(20);
  }
}

}  // namespace standin
