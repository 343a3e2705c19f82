#include "TasksTestSupport.h"

#include <string>

namespace bwtest {

void RecordingView::LogAddLine(const std::string& text) {
  lines.push_back(text);
  if (onLine) onLine(text);
}

void RecordingView::ProcessMessages() {
  ++pumps;
  if (onPump) onPump();
}

void RecordingView::ProgressSetMax(int value) {
  maxima.push_back(value);
  max = value;
}

void RecordingView::ProgressStepIt() {
  ++steps;
  if (position < max) ++position;  // a progress bar never shows more than its maximum
  if (position > highest) highest = position;
}

std::vector<std::string> RecordingView::Entries() const {
  std::vector<std::string> entries;
  for (size_t i = 0; i < lines.size(); i += 2) entries.push_back(lines[i]);
  return entries;
}

std::string ChildCommand(const std::string& arguments) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir = path;
  dir = dir.substr(0, dir.find_last_of('\\'));
  return "\"" + dir + "\\bw_task_child.exe\"" + (arguments.empty() ? "" : " " + arguments);
}

DWORD CountHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
  // Wine answers 0 above: count the handle values that name an open handle instead.
  count = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

}  // namespace bwtest
