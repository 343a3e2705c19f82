#include "support/startup/Wow64.h"

#include "support/Errors.h"
#include "support/startup/ModuleEntries.h"

namespace bw {

Wow64DisableWow64FsRedirectionFn pWow64DisableWow64FsRedirection = nullptr;
Wow64RevertWow64FsRedirectionFn pWow64RevertWow64FsRedirection = nullptr;
IsWow64ProcessFn pIsWow64Process = nullptr;

namespace {
constexpr char kSystem32[] = "\\system32\\";
}

bool IsWow64() {
  if (!pIsWow64Process) return false;
  BOOL wow64 = FALSE;
  if (!pIsWow64Process(::GetCurrentProcess(), &wow64)) RaiseLastOSErrorEx();
  return wow64 != FALSE;
}

WORD NativeMachine() {
  using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  if (auto isWow64Process2 = LoadedEntry<IsWow64Process2Fn>("kernel32.dll", "IsWow64Process2")) {
    USHORT process = 0;
    USHORT native = 0;
    if (isWow64Process2(::GetCurrentProcess(), &process, &native)) return native;
  }
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64:
      return IMAGE_FILE_MACHINE_ARM64;
    case PROCESSOR_ARCHITECTURE_INTEL:
      return IMAGE_FILE_MACHINE_I386;
    default:
      return IMAGE_FILE_MACHINE_UNKNOWN;
  }
}

std::string MapSysnativePath(const std::string& path, bool wow64) {
  const auto at = path.find(kSystem32);
  if (at == std::string::npos || !wow64) return path;
  std::string mapped = path;
  mapped.replace(at, sizeof kSystem32 - 1, "\\Sysnative\\");
  return mapped;
}

std::string MapSysnativePath(const std::string& path) {
  if (path.find(kSystem32) == std::string::npos) return path;
  return MapSysnativePath(path, IsWow64());
}

void InitWow64() {
  pWow64DisableWow64FsRedirection = LoadedEntry<Wow64DisableWow64FsRedirectionFn>(
      "kernel32.dll", "Wow64DisableWow64FsRedirection");
  pWow64RevertWow64FsRedirection =
      LoadedEntry<Wow64RevertWow64FsRedirectionFn>("kernel32.dll", "Wow64RevertWow64FsRedirection");
  pIsWow64Process = LoadedEntry<IsWow64ProcessFn>("kernel32.dll", "IsWow64Process");
}

}  // namespace bw
