// The local HTTP server that CTest keeps up for the download tests (common/http_server.py).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

#include "support/Files.h"

namespace bwtest {

// The base URL of the server whose state folder is `stateDir` ("http://127.0.0.1:<port>/"),
// empty when it is down.
inline std::string HttpBase(const std::string& stateDir) {
  std::string text;
  if (!bw::TryReadWholeFile(stateDir + "\\port", text)) return {};
  const int port = std::atoi(text.c_str());
  if (port <= 0) return {};
  return "http://127.0.0.1:" + std::to_string(port) + "/";
}

}  // namespace bwtest
