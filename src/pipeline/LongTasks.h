// Downloads and child processes that run while the window stays alive.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "pipeline/TaskFields.h"
#include "support/Handles.h"

namespace bw {

// What the tasks need of the window: its log view, its progress bar, its message pump.
class TaskView {
 public:
  virtual ~TaskView() = default;
  // Adds text (which may hold line breaks) as new lines at the end of the log.
  virtual void LogAddLine(const std::string& text) = 0;
  // Caret to the end of the log's text, then EM_SCROLLCARET.
  virtual void LogScrollToEnd() = 0;
  // Handles every pending window message of this thread.
  virtual void ProcessMessages() = 0;
  virtual int ProgressMin() = 0;
  virtual int ProgressMax() = 0;
  virtual void ProgressSetMax(int max) = 0;
  virtual int ProgressPosition() = 0;
  virtual void ProgressSetPosition(int position) = 0;
  virtual void ProgressStepIt() = 0;  // by the bar's step size, 1
};

// One download's own results, shared by the GUI thread and the download thread. A thread
// abandoned on Cancel keeps writing only into its own, so a later download never sees it.
struct DownloadJob;
// A child's output, read while the child runs.
class ChildOutput;

class LongTasks {
 public:
  LongTasks(TaskFields& fields, TaskView& view);
  ~LongTasks();
  LongTasks(const LongTasks&) = delete;
  LongTasks& operator=(const LongTasks&) = delete;

  void AddLog(const std::string& text);
  void WaitForTask(int weight);
  void CheckCancelled();
  // Accepts the file only when `publisher` signed it; what runs is its copy in
  // <WorkDir>\Downloads, a folder that only administrators may write to.
  void DownloadFile(const std::string& url, int weight, const std::string& publisher);
  void RunCommand(const std::string& commandLine, int weight, WORD showWindow);
  void bCancelClick();

 private:
  DWORD WaitOnce(HANDLE task);
  void CollectDownload();

  TaskFields& fields_;
  TaskView& view_;
  std::shared_ptr<DownloadJob> download_;  // the download being waited for
  HANDLE downloadThread_ = nullptr;        // its thread; owned by DownloadFile
  bool downloadCollected_ = false;
  ChildOutput* output_ = nullptr;  // the output of the command being waited for
  // The last good download, open so that nobody can change it: held from its check until the
  // next download, so that every command that runs it (an installer may run twice) runs what
  // was checked.
  UniqueFileHandle downloadedHold_;
};

struct VerifiedFile {
  std::string path;
  UniqueFileHandle hold;  // open for reading only; nobody may write, rename or delete it
};

// Runs on the download thread: fetch into the internet cache, accept only a valid signature
// by `publisher` (the signer certificate's name).
VerifiedFile DownloadToCache(const std::string& url, const std::string& publisher);

// Opens `path` so that nobody can change it while the hold lasts, then checks through that
// handle that `publisher` signed it. Raises the OS error when it cannot be held that way.
VerifiedFile HoldVerifiedFile(const std::string& path, const std::string& publisher);

// Copies the held file's bytes through its hold to `target` (its folder made when missing),
// then holds and checks the copy as HoldVerifiedFile does. The internet cache is the user's:
// any of the user's processes could put a DLL beside an installer there, which it would load
// elevated. Raises the OS error with the target's path when the copy fails.
VerifiedFile CopyVerifiedFile(const VerifiedFile& file, const std::string& target,
                              const std::string& publisher);

std::string OemToAnsiString(const std::string& text);

}  // namespace bw
