// What tests share: where things are, scratch folders, child processes, files.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/Errors.h"

#include "support/Files.h"

namespace bwtest {

// The source tree and the folder of the running test program, as Windows paths.
std::string SourceDir();
std::string SourcePath(const std::string& relative);  // forward or back slashes
std::string BinDir();                                 // holds every built program
std::string StandinDir();                             // the stand-ins of the outside tools

// The stand-ins are programs of the tests' own architecture, and a medium takes only a worker
// of its own: whole runs make the medium of that architecture.
#ifdef _WIN64
inline const std::string kStandinMedium = "amd64";
inline const std::string kStandinSwitch = "/amd64";
#else
inline const std::string kStandinMedium = "x86";
inline const std::string kStandinSwitch = "";
#endif

using bw::FileExists;
using bw::FolderExists;
// Empty when the file cannot be read.
std::string ReadFileBytes(const std::string& path);
// Fails the test when the file cannot be written.
void WriteFileBytes(const std::string& path, const std::string& bytes);
void RemoveTree(const std::string& path);

// A fresh folder below the temporary folder, removed with everything in it at the end.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& hint = "bwtest");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// Sets environment variables for the life of the object and restores them afterwards.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  void Set(const std::string& name, const std::string& value);
  void Unset(const std::string& name);

 private:
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

struct ProcessResult {
  DWORD exitCode = 0;
  std::string output;  // standard output and standard error together
};

// Runs a command line to its end, stdin empty, with the given current folder (or ours).
ProcessResult RunProcess(const std::string& commandLine, const std::string& currentDir = {},
                         DWORD timeoutMs = 120000);

std::string Quote(const std::string& text);

// Puts the stand-in of a console tool into the prefix's system32 unless one is there (once,
// atomically: tests running beside each other share it); asserts that it is there afterwards.
void StageSystemTool(const std::string& name);
std::string SystemFolder();

// Start-up information of a hidden child whose three standard streams are the given handles.
STARTUPINFOA HiddenChildStartup(HANDLE input, HANDLE output);

// The stand-ins' journal (BW_JOURNAL): one "<tool> <arguments>" per call, in order.
std::vector<std::string> ReadJournal(const std::string& path);

// The message of the E that `call` raised, or "(raised nothing)": compared with EXPECT_EQ, a
// failure names the caller's line and what came instead. Other exceptions fail the test.
template <typename E, typename Call>
std::string MessageOf(Call&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.Message();
  }
  return "(raised nothing)";
}

// The OS error that `call` raised, caught through the base class as the run's handler
// catches it; use as EXPECT_TRUE(RaisesOSError(...)) so a failure names the caller's line.
template <typename Call>
::testing::AssertionResult RaisesOSError(Call&& call, DWORD code, const std::string& message) {
  try {
    call();
  } catch (const bw::Exception& e) {
    const auto* os = dynamic_cast<const bw::EOSError*>(&e);
    if (!os) return ::testing::AssertionFailure() << "raised no EOSError but: " << e.Message();
    if (os->ErrorCode != code || os->Message() != message) {
      return ::testing::AssertionFailure()
             << "raised code " << os->ErrorCode << " \"" << os->Message() << "\", expected code "
             << code << " \"" << message << "\"";
    }
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "raised nothing, expected code " << code;
}

}  // namespace bwtest
