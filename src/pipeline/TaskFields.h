// The window's fields that the Start run and the long-running tasks share.
#pragma once

#include <windows.h>

#include <string>

namespace bw {

struct TaskFields {
  std::string WorkDir;
  std::string DownloadUrl;
  std::string DownloadedFile;  // last good download; never cleared
  std::string DownloadError;
  HANDLE TaskHandle = nullptr;  // the running thread or process; owned by the task that set it
  bool CancelRequested = false;
};

}  // namespace bw
