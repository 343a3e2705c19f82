#include "support/startup/ModuleEntries.h"

#include <string>

#include "support/Errors.h"

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

HMODULE LoadSystemModule(const char* name) {
  char folder[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0) return nullptr;
  if (length > MAX_PATH) {
    ::SetLastError(ERROR_BUFFER_OVERFLOW);
    return nullptr;
  }
  return ::LoadLibraryA((std::string(folder, length) + "\\" + name).c_str());
}

void* SystemProc::Address() const {
  void* address = address_.load(std::memory_order_acquire);
  if (address) return address;
  // Each entry takes its own reference, never released: the DLL stays for good.
  const HMODULE module = LoadSystemModule(module_);
  if (module) address = reinterpret_cast<void*>(::GetProcAddress(module, name_));
  if (!address) {
    const DWORD code = ::GetLastError();
    RaiseOSError(code, std::string(module_) + " " + name_);
  }
  // Two threads may both get here: they store the same address.
  address_.store(address, std::memory_order_release);
  return address;
}

}  // namespace bw
