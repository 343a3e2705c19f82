// A console program run with a keyboard of our own: the test types into its standard input
// and waits for texts to appear on its output (standard output and error together), as a
// user at its console would.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/TestSupport.h"
#include "support/Handles.h"

namespace bwtest {

class ConsoleSession {
 public:
  explicit ConsoleSession(const std::string& commandLine, const std::string& currentDir = {})
      : shared_(std::make_shared<Shared>()) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    bw::UniqueHandle childIn, childOut;
    if (!CreatePipe(childIn.put(), input_.put(), &sa, 0) ||
        !CreatePipe(shared_->output.put(), childOut.put(), &sa, 0)) {
      ADD_FAILURE() << "CreatePipe: " << GetLastError();
      return;
    }
    SetHandleInformation(input_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(shared_->output.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = HiddenChildStartup(childIn.get(), childOut.get());
    PROCESS_INFORMATION pi = {};
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi)) {
      ADD_FAILURE() << "CreateProcessA(" << commandLine << "): " << GetLastError();
      return;
    }
    process_.reset(pi.hProcess);
    bw::UniqueHandle thread(pi.hThread);
    // A job takes the programs the child starts down with it when the test ends early.
    job_.reset(CreateJobObjectA(nullptr, nullptr));
    if (job_ && !AssignProcessToJobObject(job_.get(), process_.get())) job_.reset();
    ResumeThread(thread.get());
    std::shared_ptr<Shared> shared = shared_;
    std::thread([shared] {
      char buffer[4096];
      DWORD got = 0;
      while (ReadFile(shared->output.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->text.append(buffer, got);
        shared->changed.notify_all();
      }
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->ended = true;
      shared->changed.notify_all();
    }).detach();
  }

  ~ConsoleSession() {
    if (job_) TerminateJobObject(job_.get(), 1);
    if (Running()) TerminateProcess(process_.get(), 1);
  }

  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

  // Waits until `text` shows up behind the cursor and moves the cursor past it.
  bool Expect(const std::string& text, DWORD timeoutMs = 20000) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    size_t at = std::string::npos;
    shared_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      at = shared_->text.find(text, cursor_);
      return at != std::string::npos || shared_->ended;
    });
    if (at == std::string::npos) return false;
    cursor_ = at + text.size();
    return true;
  }

  // Keys, as typed: "2" is one key press, "abc\r\n" a line with its Enter.
  void Type(const std::string& keys) {
    DWORD written = 0;
    if (!WriteFile(input_.get(), keys.data(), static_cast<DWORD>(keys.size()), &written, nullptr)) {
      ADD_FAILURE() << "cannot type into the console: " << GetLastError();
    }
  }

  // Waits for the program to end and returns its exit code; ends it (code 0xDEAD) when it
  // outlives the wait.
  DWORD Finish(DWORD timeoutMs = 20000) {
    if (!process_) return static_cast<DWORD>(-1);
    if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
      TerminateProcess(process_.get(), 0xDEAD);
      WaitForSingleObject(process_.get(), INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait_for(lock, std::chrono::milliseconds(2000),
                              [&] { return shared_->ended; });
    return code;
  }

  bool Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
  }

  std::string Output() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->text;
  }

  // What came after the cursor: for failure messages.
  std::string Rest() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->text.substr(cursor_);
  }

 private:
  // Owned together with the reader thread, which may outlive the session while a program
  // that inherited the output pipe still runs.
  struct Shared {
    bw::UniqueHandle output;
    std::mutex mutex;
    std::condition_variable changed;
    std::string text;
    bool ended = false;
  };

  std::shared_ptr<Shared> shared_;
  bw::UniqueHandle process_, input_, job_;
  size_t cursor_ = 0;
};

}  // namespace bwtest
