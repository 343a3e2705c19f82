#pragma once

#include <windows.h>

#include <string>

namespace bw {

// "a.b.c.d" from the two words of a fixed file-information block.
std::string FormatVersion(DWORD ms, DWORD ls);

// The file version of a program file; "0.0.0.0" whenever there is none to read.
std::string GetFileVersionString(const std::string& path);

}  // namespace bw
