// Prints how long Cancel takes to show "Cancelled." and what reading a child's output costs.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TasksTestSupport.h"
#include "pipeline/LongTasks.h"
#include "support/Errors.h"
#include "support/Handles.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Print(const char* what, const std::vector<double>& values) {
  std::printf("| %s (n=%zu) | median %.1f ms, worst %.1f ms | |\n", what, values.size(),
              Median(values), *std::max_element(values.begin(), values.end()));
}

// A window stand-in whose pump handles real thread messages: a click arrives as WM_APP,
// posted from another thread at a random moment, and is handled when the wait pumps.
struct Cancelling {
  bw::TaskFields fields;
  bwtest::RecordingView view;
  bw::LongTasks tasks{fields, view};
  double clicked = 0;
  double logged = 0;

  Cancelling() {
    view.onPump = [this] {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_APP) {
          clicked = Now();
          tasks.bCancelClick();
        }
      }
    };
    view.onLine = [this](const std::string& line) {
      if (line == "Cancelled.") logged = Now();
    };
  }

  // Runs the step, clicks Cancel after delayMs; returns {click to log, post to log}.
  template <typename Step>
  std::pair<double, double> Run(Step step, DWORD delayMs) {
    fields.CancelRequested = false;
    clicked = logged = 0;
    const DWORD gui = GetCurrentThreadId();
    double posted = 0;
    std::thread clicker([&] {
      Sleep(delayMs);
      posted = Now();
      PostThreadMessageA(gui, WM_APP, 0, 0);
    });
    try {
      step(tasks);
    } catch (const bw::Exception& e) {
      tasks.AddLog(e.Message());  // as the run's single handler does
    }
    clicker.join();
    return {logged - clicked, logged - posted};
  }
};

double TimeThroughTasks(const std::string& command) {
  bw::TaskFields fields;
  bwtest::RecordingView view;
  bw::LongTasks tasks(fields, view);
  const double start = Now();
  tasks.RunCommand(command, 5, SW_HIDE);
  return Now() - start;
}

double TimeIntoFile(const std::string& command, const std::string& file) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const double start = Now();
  bw::UniqueFileHandle out(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                       CREATE_ALWAYS, 0, nullptr));
  bw::UniqueFileHandle in(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = in.get();
  si.hStdOutput = out.get();
  si.hStdError = out.get();
  PROCESS_INFORMATION pi = {};
  std::string line = command;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                      nullptr, &si, &pi)) {
    std::printf("cannot start %s: %lu\n", command.c_str(), GetLastError());
    return 0;
  }
  bw::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  return Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread gets its message queue
  std::mt19937 random(12345);
  std::uniform_int_distribution<DWORD> delay(150, 400);

  {
    Cancelling bench;
    std::vector<double> clickToLog, postToLog;
    const std::string sleeper = bwtest::ChildCommand("sleep 30000");
    for (int i = 0; i < 50; ++i) {
      auto [a, b] =
          bench.Run([&](bw::LongTasks& t) { t.RunCommand(sleeper, 5, SW_HIDE); }, delay(random));
      clickToLog.push_back(a);
      postToLog.push_back(b);
    }
    Print("command: bCancelClick to \"Cancelled.\"", clickToLog);
    Print("command: click posted to \"Cancelled.\"", postToLog);
  }

  if (argc > 1) {
    Cancelling bench;
    // Where a download that finishes after its Cancel still puts its copy.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    bench.fields.WorkDir = std::string(temp) + "bench_tasks_work";
    std::vector<double> clickToLog, postToLog;
    const std::string url = std::string(argv[1]) + "slow/4000/bw_task_child_slow.exe";
    for (int i = 0; i < 50; ++i) {
      auto [a, b] = bench.Run([&](bw::LongTasks& t) { t.DownloadFile(url, 5, "Tessel Software"); },
                              delay(random));
      clickToLog.push_back(a);
      postToLog.push_back(b);
    }
    Print("download: bCancelClick to \"Cancelled.\"", clickToLog);
    Print("download: click posted to \"Cancelled.\"", postToLog);
  } else {
    std::printf("| download cancel | skipped (no server URL given) | |\n");
  }

  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string file = std::string(temp) + "bench_tasks_output.bin";
  const std::string writer = bwtest::ChildCommand("out 16777216");
  std::vector<double> piped, filed;
  for (int i = 0; i < 15; ++i) {
    piped.push_back(TimeThroughTasks(writer));
    filed.push_back(TimeIntoFile(writer, file));
  }
  const std::string quiet = bwtest::ChildCommand("");
  std::vector<double> quietPiped, quietFiled;
  for (int i = 0; i < 15; ++i) {
    quietPiped.push_back(TimeThroughTasks(quiet));
    quietFiled.push_back(TimeIntoFile(quiet, file));
  }
  DeleteFileA(file.c_str());
  std::printf("| silent child, RunCommand vs into a file (median of 15) | %.1f ms vs %.1f ms | |\n",
              Median(quietPiped), Median(quietFiled));
  std::printf(
      "| capture of 16 MB, RunCommand vs into a file (median of 15) | %.1f ms vs %.1f ms, "
      "ratio %.2f | ratio 1.2 |\n",
      Median(piped), Median(filed), Median(piped) / Median(filed));
  return 0;
}
