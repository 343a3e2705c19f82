#include "support/startup/SharedUtils.h"

#include <windows.h>

#include <clocale>

#include "support/Files.h"
#include "support/Versions.h"
#include "support/startup/ProcessUtils.h"
#include "support/startup/Wow64.h"

namespace bw {

std::string ProgramPath;
std::string ProgramFolder;
std::string ProgramVersion = "0.0.0.0";
std::string ShippedWorkerVersion = "0.0.0.0";
EngineCallback EngineMessageHook = nullptr;
EngineCallback EngineErrorHook = nullptr;

namespace {

void EngineMessage(const char*) {}
void EngineError(const char*) {}

}  // namespace

std::string ExtractFilePath(const std::string& path) {
  const auto at = path.find_last_of("\\:");
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string MajorMinor(const std::string& version) {
  const auto first = version.find('.');
  if (first == std::string::npos) return {};
  const auto second = version.find('.', first + 1);
  if (second == std::string::npos) return {};
  return version.substr(0, second);
}

void CopyServerWorker(const std::string& folder, const std::string& programVersion) {
  const std::string worker = folder + "TXBWorker.exe";
  const std::string copy = folder + "TXBWorker.ex_";
  if (!FileExists(folder + "TXBServer.exe") || FileExists(copy) || !FileExists(worker)) {
    return;
  }
  if (::lstrcmpiA(MajorMinor(GetFileVersionString(worker)).c_str(),
                  MajorMinor(programVersion).c_str()) != 0) {
    return;
  }
  ::CopyFileA(worker.c_str(), copy.c_str(), TRUE);
}

void InitSharedUtils() {
  // Numbers are written and read with "." whatever the user's locale says.
  std::setlocale(LC_NUMERIC, "C");
  const std::string executable = ExecutablePath();
  ProgramPath = MapSysnativePath(executable);
  ProgramFolder = ExtractFilePath(ProgramPath);
  ProgramVersion = GetFileVersionString(ProgramPath);
  if (UpperAZ(executable).find("ERVER.EXE") != std::string::npos) {
    CopyServerWorker(ProgramFolder, ProgramVersion);
  }
  ShippedWorkerVersion = GetFileVersionString(ProgramFolder + "TXBWorker.ex_");
  EngineMessageHook = EngineMessage;
  EngineErrorHook = EngineError;
}

void FinalizeSharedUtils() {
  EngineMessageHook = nullptr;
  EngineErrorHook = nullptr;
  ProgramPath.clear();
  ProgramFolder.clear();
  ProgramVersion = "0.0.0.0";
  ShippedWorkerVersion = "0.0.0.0";
}

}  // namespace bw
