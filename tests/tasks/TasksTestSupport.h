// What the task tests and the task benchmark share: a window stand-in that records what the
// tasks do to it, the child program, the local HTTP server and a handle count.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/HttpServer.h"
#include "pipeline/LongTasks.h"

namespace bwtest {

class RecordingView : public bw::TaskView {
 public:
  void LogAddLine(const std::string& text) override;
  void LogScrollToEnd() override { ++scrolls; }
  void ProcessMessages() override;
  int ProgressMin() override { return min; }
  int ProgressMax() override { return max; }
  void ProgressSetMax(int value) override;
  int ProgressPosition() override { return position; }
  void ProgressSetPosition(int value) override { position = value; }
  void ProgressStepIt() override;

  // The texts handed to AddLog, in order (each is followed by an empty line in the log).
  std::vector<std::string> Entries() const;

  std::vector<std::string> lines;
  std::vector<int> maxima;  // every value given to ProgressSetMax
  int min = 0;
  int max = 100;
  int position = 0;
  int highest = 0;  // the highest position the bar ever showed
  int steps = 0;
  int pumps = 0;
  int scrolls = 0;
  std::function<void()> onPump;                    // runs inside ProcessMessages
  std::function<void(const std::string&)> onLine;  // runs for every line added
};

// A command line that runs the child program with these arguments.
std::string ChildCommand(const std::string& arguments);

// Open handles of this process.
DWORD CountHandles();

}  // namespace bwtest
