// Drives the wizard from outside, as a user would: start it, find its window and controls,
// read their texts and states, click, close. Used by the window tests, the demo and the
// benchmark; needs nothing but the Win32 API.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "app/ControlIds.h"

namespace bwdrive {

// Polls until done() or the time is up; true when done() said so.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD periodMs = 20);

class App {
 public:
  App() = default;
  ~App();  // ends a process that is still running
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // The class of the window to wait for; the wizard's by default.
  void SetWindowClass(std::string windowClass) { windowClass_ = std::move(windowClass); }

  // Starts the program (current folder currentDir, arguments after its path) without waiting
  // for anything.
  bool Start(const std::string& exePath, const std::string& currentDir = "C:\\",
             const std::string& arguments = {});
  // Starts the program (current folder currentDir) and waits for its window to be shown.
  bool Launch(const std::string& exePath, const std::string& currentDir = "C:\\",
              DWORD timeoutMs = 20000, const std::string& arguments = {});
  // Finds an already running wizard's window (for a program started by someone else).
  bool Attach(DWORD timeoutMs = 20000);

  HWND Window() const { return window_; }
  HWND Control(int id) const;  // searched through the panels
  std::string Text(HWND hwnd) const;
  std::string Text(int id) const { return Text(Control(id)); }
  std::string Caption() const { return Text(window_); }
  std::string Log() const { return Text(bw::kIdLog); }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  bool Visible(int id) const { return IsWindowVisible(Control(id)) != FALSE; }
  // The control's place in its parent's client area.
  RECT Place(int id) const;

  void Click(int id) const;  // posted, so a modal box that it opens does not block us
  void Click(HWND button) const;
  bool WaitLogContains(const std::string& text, DWORD timeoutMs) const;
  bool WaitIdle(DWORD timeoutMs) const;  // Start enabled, Cancel disabled
  // A message box of the wizard with this caption, or null.
  HWND FindBox(const std::string& caption) const;
  std::string BoxText(HWND box) const;

  void Close() const;  // WM_CLOSE, posted
  bool WaitExit(DWORD timeoutMs);
  void Kill();
  bool Running() const;
  DWORD ExitCode() const;
  DWORD ProcessId() const { return pid_; }
  HANDLE Process() const { return process_; }

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
  std::string windowClass_ = "TForm1";
};

}  // namespace bwdrive
