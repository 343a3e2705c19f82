#include "support/MachineLock.h"

#include "support/Errors.h"

namespace bw {

UniqueMutexHold TakeMachineLock(const std::string& name) {
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str()));
  if (!mutex) mutex.reset(CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str()));
  CheckLastError(static_cast<bool>(mutex), name);
  const DWORD result = WaitForSingleObject(mutex.get(), 0);
  // An abandoned mutex is ours now: its holder died, and with it the run it guarded.
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return UniqueMutexHold(mutex.release());
  CheckLastError(result != WAIT_FAILED, name);
  return {};
}

}  // namespace bw
