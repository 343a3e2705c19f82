#include "support/MachineLock.h"

#include <sddl.h>

#include "support/Errors.h"

namespace bw {

namespace {

// SYSTEM and the Administrators have full access, nobody else any, so no other user's
// process can take or hold the name.
const char kAdministratorsOnly[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

}  // namespace

UniqueMutexHold TakeMachineLock(const std::string& name) {
  UniqueLocal descriptor;
  CheckLastError(ConvertStringSecurityDescriptorToSecurityDescriptorA(
                     kAdministratorsOnly, SDDL_REVISION_1,
                     reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr),
                 name);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  UniqueHandle mutex(CreateMutexA(&attributes, FALSE, ("Global\\" + name).c_str()));
  if (!mutex) {
    // The name is there but not for us: a holder we may not open, or an object of another
    // kind squatting on it. Either way no run may start beside it.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE) return {};
    RaiseOSError(error, name);
  }
  const DWORD result = WaitForSingleObject(mutex.get(), 0);
  // An abandoned mutex is ours now: its holder died, and with it the run it guarded.
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return UniqueMutexHold(mutex.release());
  CheckLastError(result != WAIT_FAILED, name);
  return {};
}

}  // namespace bw
