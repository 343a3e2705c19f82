// Running as a 32-bit process on 64-bit Windows, and the path that escapes the redirection.
#pragma once

#include <windows.h>

#include <string>

namespace bw {

using Wow64DisableWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

extern Wow64DisableWow64FsRedirectionFn pWow64DisableWow64FsRedirection;
extern Wow64RevertWow64FsRedirectionFn pWow64RevertWow64FsRedirection;
extern IsWow64ProcessFn pIsWow64Process;

// False without IsWow64Process; raises the OS error when the call fails.
bool IsWow64();

// The machine's own architecture as an IMAGE_FILE_MACHINE_* value: from IsWow64Process2 where
// it exists (it alone tells ARM64 from x64 under emulation), else from GetNativeSystemInfo.
WORD NativeMachine();

// The first "\system32\" (this letter case only) becomes "\Sysnative\" when `wow64` is true.
std::string MapSysnativePath(const std::string& path, bool wow64);
// Asks IsWow64 only for a path that holds "\system32\".
std::string MapSysnativePath(const std::string& path);

void InitWow64();

}  // namespace bw
