#include "support/startup/ModuleEntries.h"

namespace bw {

void LimitDllSearchToSystem() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  if (const auto set = LoadedEntry<SetDirectories>("kernel32.dll", "SetDefaultDllDirectories")) {
    set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

HMODULE LoadModule(const char* name) {
  HMODULE module = ::LoadLibraryA(name);
  if (reinterpret_cast<ULONG_PTR>(module) <= 32) return nullptr;
  return module;
}

}  // namespace bw
