#include "support/startup/ModuleEntries.h"

namespace bw {

HMODULE LoadModule(const char* name) {
  HMODULE module = ::LoadLibraryA(name);
  if (reinterpret_cast<ULONG_PTR>(module) <= 32) return nullptr;
  return module;
}

}  // namespace bw
