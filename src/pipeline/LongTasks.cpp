#include "pipeline/LongTasks.h"

#include "support/Errors.h"

namespace bw {

// Placeholder until the tasks land.
LongTasks::LongTasks(TaskFields& fields, TaskView& view) : fields_(fields), view_(view) {}
LongTasks::~LongTasks() = default;
void LongTasks::AddLog(const std::string& text) {
  view_.LogAddLine(text);
  view_.LogAddLine("");
  view_.LogScrollToEnd();
  view_.ProcessMessages();
}
void LongTasks::WaitForTask(int) { throw Exception("not built yet"); }
void LongTasks::CheckCancelled() {}
void LongTasks::DownloadFile(const std::string&, int) { throw Exception("not built yet"); }
void LongTasks::RunCommand(const std::string&, int, WORD) { throw Exception("not built yet"); }
void LongTasks::bCancelClick() { fields_.CancelRequested = true; }
std::string DownloadToCache(const std::string&) { return {}; }
std::string OemToAnsiString(const std::string& text) { return text; }

}  // namespace bw
