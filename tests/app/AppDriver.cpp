#include "AppDriver.h"

#include <functional>
#include <vector>

namespace bwdrive {

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD periodMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(periodMs);
  }
}

App::~App() {
  if (process_) {
    if (Running()) TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
  }
}

bool App::Launch(const std::string& exePath, const std::string& currentDir, DWORD timeoutMs,
                 const std::string& arguments) {
  return Start(exePath, currentDir, arguments) && Attach(timeoutMs);
}

bool App::Start(const std::string& exePath, const std::string& currentDir,
                const std::string& arguments) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string commandLine = "\"" + exePath + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  if (!CreateProcessA(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  pid_ = pi.dwProcessId;
  return true;
}

namespace {
using WindowTest = std::function<bool(HWND, DWORD, const std::string&)>;

struct WindowSearch {
  const WindowTest* test;
  HWND found;
};

BOOL CALLBACK CheckTopLevel(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<WindowSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (!(*search->test)(hwnd, pid, cls)) return TRUE;
  search->found = hwnd;
  return FALSE;
}

// The first top-level window whose owning process id and class name pass the test.
HWND FindTopLevel(const WindowTest& test) {
  WindowSearch search = {&test, nullptr};
  EnumWindows(CheckTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}
}  // namespace

bool App::Attach(DWORD timeoutMs) {
  return WaitFor(
             [this] {
               if (process_ && !Running()) return true;
               const HWND found = FindTopLevel([this](HWND, DWORD pid, const std::string& cls) {
                 return (pid_ == 0 || pid == pid_) && cls == windowClass_;
               });
               if (!found || !IsWindowVisible(found)) return false;
               window_ = found;
               if (!pid_) GetWindowThreadProcessId(window_, &pid_);
               return true;
             },
             timeoutMs) &&
         window_ != nullptr;
}

namespace {
struct ChildSearch {
  int id;
  HWND found;
};
BOOL CALLBACK FindChild(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<ChildSearch*>(lp);
  if (GetDlgCtrlID(hwnd) == search->id) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND App::Control(int id) const {
  ChildSearch search = {id, nullptr};
  EnumChildWindows(window_, FindChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string App::Text(HWND hwnd) const {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return {};
  }
  std::vector<char> buffer(length + 2, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, 5000, &got);
  return std::string(buffer.data());
}

RECT App::Place(int id) const {
  HWND control = Control(id);
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void App::Click(int id) const { Click(Control(id)); }
void App::Click(HWND button) const { PostMessageA(button, BM_CLICK, 0, 0); }

bool App::WaitLogContains(const std::string& text, DWORD timeoutMs) const {
  return WaitFor([&] { return Log().find(text) != std::string::npos; }, timeoutMs, 50);
}

bool App::WaitIdle(DWORD timeoutMs) const {
  return WaitFor([&] { return Enabled(bw::kIdStart) && !Enabled(bw::kIdCancel); }, timeoutMs, 50);
}

HWND App::FindBox(const std::string& caption) const {
  return FindTopLevel([&](HWND hwnd, DWORD pid, const std::string& cls) {
    char title[256] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    return pid == pid_ && cls == "#32770" && caption == title && IsWindowVisible(hwnd);
  });
}

std::string App::BoxText(HWND box) const {
  // The message text is the box's static control with id 0xFFFF.
  return Text(GetDlgItem(box, 0xFFFF));
}

void App::Close() const { PostMessageA(window_, WM_CLOSE, 0, 0); }

bool App::WaitExit(DWORD timeoutMs) {
  return process_ && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

void App::Kill() {
  if (process_) {
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, 5000);
  }
}

bool App::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

DWORD App::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_, &code);
  return code;
}

}  // namespace bwdrive
