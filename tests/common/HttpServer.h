// The local HTTP server that CTest keeps up for the download tests (common/http_server.py).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

namespace bwtest {

// The base URL of the server whose state folder is `stateDir` ("http://127.0.0.1:<port>/"),
// empty when it is down.
inline std::string HttpBase(const std::string& stateDir) {
  HANDLE file = CreateFileA((stateDir + "\\port").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  char text[16] = {};
  DWORD got = 0;
  ReadFile(file, text, sizeof text - 1, &got, nullptr);
  CloseHandle(file);
  const int port = std::atoi(text);
  if (port <= 0) return {};
  return "http://127.0.0.1:" + std::to_string(port) + "/";
}

}  // namespace bwtest
