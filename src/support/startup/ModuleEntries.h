// Optional OS entry points: looked up once, left empty when the module or name is missing.
#pragma once

#include <windows.h>

namespace bw {

// The entry `name` of `module` as a typed function pointer, or nullptr.
template <typename Fn>
Fn ProcEntry(HMODULE module, const char* name) {
  if (!module) return nullptr;
  // Through void* so the compiler accepts the change of function type.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The entry `name` of a module that is already loaded (never loads it).
template <typename Fn>
Fn LoadedEntry(const char* module, const char* name) {
  return ProcEntry<Fn>(::GetModuleHandleA(module), name);
}

// Keeps every later DLL load (also the first call into a delay-loaded DLL) to the system
// folder: the program's own folder may be one that others can write to, and the program runs
// elevated. Where the system lacks the means (Windows 7 without its 2011 loader update), the
// search stays as it was. First thing at the entry.
void LimitDllSearchToSystem();

// LoadLibraryA, counting a handle of 32 or less as failure (nullptr).
HMODULE LoadModule(const char* name);

}  // namespace bw
