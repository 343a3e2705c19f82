// OS entry points: optional ones looked up once, left empty when the module or name is
// missing; required ones of system DLLs that are not known DLLs, loaded at their first call.
#pragma once

#include <windows.h>

#include <atomic>
#include <utility>

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

// Keeps every later DLL load (also those of the DLLs that system DLLs import) to the system
// folder: the program's own folder may be one that others can write to, and the program runs
// elevated. Where the system lacks the means (Windows 7 without its 2011 loader update), the
// search stays as it was. First thing at the entry.
void LimitDllSearchToSystem();

// LoadLibraryA, counting a handle of 32 or less as failure (nullptr).
HMODULE LoadModule(const char* name);

// The DLL `name` by its full path in the system folder, never through the search, which may
// reach the program's own folder; nullptr on failure, with the last error set. Windows applies
// the manifest's side-by-side redirection to this path too, so comctl32 comes as version 6.
HMODULE LoadSystemModule(const char* name);

// An entry of a system DLL, resolved at its first call: the DLL loaded by LoadSystemModule and
// kept for the life of the process. Constant-initialised, so a table of them at namespace
// scope runs no start-up code, and the first call may come from any thread.
class SystemProc {
 public:
  constexpr SystemProc(const char* module, const char* name) : module_(module), name_(name) {}
  SystemProc(const SystemProc&) = delete;
  SystemProc& operator=(const SystemProc&) = delete;

  // Raises EOSError with the loader's code (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND...)
  // naming the DLL and the entry.
  void* Address() const;

 private:
  const char* module_;
  const char* name_;
  mutable std::atomic<void*> address_{nullptr};
};

// SystemProc called as the function of type Fn it stands for: entry(arguments...).
template <typename Fn>
class SystemEntry : public SystemProc {
 public:
  using SystemProc::SystemProc;
  template <typename... Args>
  decltype(auto) operator()(Args&&... args) const {
    return reinterpret_cast<Fn>(Address())(std::forward<Args>(args)...);
  }
};

}  // namespace bw
