// Process utilities: the running executable's path and two optional entries.
#pragma once

#include <windows.h>

#include <string>

namespace bw {

using IsHungAppWindowFn = BOOL(WINAPI*)(HWND);
using DuplicateTokenExFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSECURITY_ATTRIBUTES,
                                         SECURITY_IMPERSONATION_LEVEL, TOKEN_TYPE, PHANDLE);

extern IsHungAppWindowFn pIsHungAppWindow;
extern DuplicateTokenExFn pDuplicateTokenEx;

// Full path of the running executable, whatever its length.
std::string ExecutablePath();

// Upper-cases the letters a to z only; other bytes stay as they are.
std::string UpperAZ(std::string text);

void InitProcessUtils();
void FinalizeProcessUtils();

}  // namespace bw
