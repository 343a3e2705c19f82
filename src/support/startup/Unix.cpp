#include "support/startup/Unix.h"

#include "support/Handles.h"
#include "support/startup/ModuleEntries.h"
#include "support/startup/ProcessUtils.h"

namespace bw {

bool IsWine = false;
bool IsServerProcess = false;
WineGetUnixFileNameFn wine_get_unix_file_name = nullptr;

namespace {

HMODULE LoadQuietly(const char* name) {
  const UINT previous = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadModule(name);
  ::SetErrorMode(previous);
  return module;
}

}  // namespace

bool ModuleExports(const char* module, const char* name) {
  UniqueModule handle(LoadQuietly(module));
  return ProcEntry<FARPROC>(handle.get(), name) != nullptr;
}

bool IsServerExecutable(const std::string& executablePath) {
  return UpperAZ(executablePath).find("SERVER.EXE") != std::string::npos;
}

void InitUnix() {
  IsWine = ModuleExports("ntdll.dll", "wine_get_version");
  if (IsWine) {
    // This reference is kept for the life of the process, with the entry taken from it.
    wine_get_unix_file_name =
        ProcEntry<WineGetUnixFileNameFn>(LoadQuietly("Kernel32.dll"), "wine_get_unix_file_name");
  }
  IsServerProcess = IsServerExecutable(ExecutablePath());
}

// The Unix proxy object is never created in this program, so there is nothing to free.
void FinalizeUnix() {}

}  // namespace bw
