// What tests share: where things are, scratch folders, child processes, files.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "support/Files.h"

namespace bwtest {

// The source tree and the folder of the running test program, as Windows paths.
std::string SourceDir();
std::string SourcePath(const std::string& relative);  // forward or back slashes
std::string BinDir();                                 // holds every built program
std::string StandinDir();                             // the stand-ins of the outside tools

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

// Start-up information of a hidden child whose three standard streams are the given handles.
STARTUPINFOA HiddenChildStartup(HANDLE input, HANDLE output);

}  // namespace bwtest
