#pragma once

#include <windows.h>

#include <string>

namespace bw {

// One value as text, unexpanded and untyped; empty when it cannot be read. `view` may name
// the registry view (KEY_WOW64_64KEY or KEY_WOW64_32KEY); 0 is the process's own.
std::string ReadRegistryString(HKEY root, const std::string& subKey, const std::string& name,
                               REGSAM view = 0);

}  // namespace bw
