#include "support/startup/ProcessUtils.h"

#include "support/Handles.h"
#include "support/startup/ModuleEntries.h"

namespace bw {

IsHungAppWindowFn pIsHungAppWindow = nullptr;
DuplicateTokenExFn pDuplicateTokenEx = nullptr;

namespace {
UniqueModule advapi32;  // our own reference, dropped at finalization
}

std::string ExecutablePath() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
    if (length == 0) return {};
    if (length < size) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string UpperAZ(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

void InitProcessUtils() {
  pIsHungAppWindow = LoadedEntry<IsHungAppWindowFn>("user32.dll", "IsHungAppWindow");
  advapi32.reset(LoadModule("advapi32.dll"));
  pDuplicateTokenEx = ProcEntry<DuplicateTokenExFn>(advapi32.get(), "DuplicateTokenEx");
}

void FinalizeProcessUtils() {
  pDuplicateTokenEx = nullptr;
  pIsHungAppWindow = nullptr;
  advapi32.reset();
}

}  // namespace bw
