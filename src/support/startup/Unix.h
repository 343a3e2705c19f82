// What the process runs on: Wine or Windows, and whether it is the backup server.
#pragma once

#include <windows.h>

#include <string>

namespace bw {

// Wine's own export that turns a Windows path into a Unix one (caller frees with HeapFree).
using WineGetUnixFileNameFn = char*(CDECL*)(LPCWSTR);

extern bool IsWine;
extern bool IsServerProcess;
extern WineGetUnixFileNameFn wine_get_unix_file_name;

// Whether `module`, loaded with file-error boxes off, exports `name`; the module is released.
bool ModuleExports(const char* module, const char* name);

// Whether the upper-cased (a to z) executable path contains "SERVER.EXE".
bool IsServerExecutable(const std::string& executablePath);

void InitUnix();
void FinalizeUnix();

}  // namespace bw
