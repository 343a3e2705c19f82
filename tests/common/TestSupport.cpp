#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "support/Files.h"
#include "support/Handles.h"

namespace bwtest {

std::string SourceDir() {
  std::string dir = BW_SOURCE_DIR;
  std::replace(dir.begin(), dir.end(), '/', '\\');
  return dir;
}

std::string SourcePath(const std::string& relative) {
  std::string rel = relative;
  std::replace(rel.begin(), rel.end(), '/', '\\');
  return SourceDir() + "\\" + rel;
}

std::string BinDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir = path;
  return dir.substr(0, dir.find_last_of('\\'));
}

std::string StandinDir() { return BinDir() + "\\standins"; }

std::string ReadFileBytes(const std::string& path) {
  std::string bytes;
  return bw::TryReadWholeFile(path, bytes) ? bytes : std::string();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(bw::TryWriteWholeFile(path, bytes))
      << "cannot write " << path << ": " << GetLastError();
}

void RemoveTree(const std::string& path) { bw::TryRemoveTree(path); }

ScratchDir::ScratchDir(const std::string& hint) {
  static std::atomic<unsigned> counter{0};
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string base = temp;
  if (!base.empty() && base.back() == '\\') base.pop_back();
  for (;;) {
    path_ = base + "\\" + hint + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
  }
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

std::string ScratchDir::operator/(const std::string& name) const { return path_ + "\\" + name; }

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, old] : saved_) {
    SetEnvironmentVariableA(name.c_str(), old.first ? old.second.c_str() : nullptr);
  }
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
  if (!saved_.count(name)) {
    char buffer[32768];
    DWORD n = GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
    saved_[name] = {n > 0, std::string(buffer, n)};
  }
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void ScopedEnv::Unset(const std::string& name) {
  if (!saved_.count(name)) {
    char buffer[32768];
    DWORD n = GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
    saved_[name] = {n > 0, std::string(buffer, n)};
  }
  SetEnvironmentVariableA(name.c_str(), nullptr);
}

ProcessResult RunProcess(const std::string& commandLine, const std::string& currentDir,
                         DWORD timeoutMs) {
  ProcessResult result;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  bw::UniqueHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0)) {
    ADD_FAILURE() << "CreatePipe: " << GetLastError();
    return result;
  }
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  bw::UniqueFileHandle nul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                       OPEN_EXISTING, 0, nullptr));
  STARTUPINFOA si = HiddenChildStartup(nul.get(), writeEnd.get());
  PROCESS_INFORMATION pi = {};
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi)) {
    ADD_FAILURE() << "CreateProcessA(" << commandLine << "): " << GetLastError();
    result.exitCode = static_cast<DWORD>(-1);
    return result;
  }
  bw::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writeEnd.reset();
  std::string output;
  std::thread reader([&] {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
      output.append(buffer, got);
    }
  });
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "timed out: " << commandLine;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
  }
  reader.join();
  GetExitCodeProcess(process.get(), &result.exitCode);
  result.output = std::move(output);
  return result;
}

std::vector<std::string> ReadJournal(const std::string& path) {
  std::vector<std::string> calls;
  const std::string text = ReadFileBytes(path);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) calls.push_back(line);
    at = end + 1;
  }
  return calls;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string SystemFolder() {
  char system[MAX_PATH + 1] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  return system;
}

void StageSystemTool(const std::string& name) {
  const std::string target = SystemFolder() + "\\" + name;
  if (!FileExists(target)) {
    const std::string staging = target + ".bw-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CopyFileA((StandinDir() + "\\" + name).c_str(), staging.c_str(), FALSE))
        << name << ": " << GetLastError();
    if (!MoveFileA(staging.c_str(), target.c_str())) DeleteFileA(staging.c_str());
  }
  ASSERT_TRUE(FileExists(target)) << target;
}

STARTUPINFOA HiddenChildStartup(HANDLE input, HANDLE output) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = input;
  si.hStdOutput = output;
  si.hStdError = output;
  return si;
}

}  // namespace bwtest
