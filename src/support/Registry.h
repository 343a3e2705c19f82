#pragma once

#include <windows.h>

#include <string>

namespace bw {

// One value as text, unexpanded and untyped; empty when it cannot be read.
std::string ReadRegistryString(HKEY root, const std::string& subKey, const std::string& name);

}  // namespace bw
