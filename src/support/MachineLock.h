// One holder at a time on the whole machine, through a named mutex.
#pragma once

#include <string>

#include "support/Handles.h"

namespace bw {

// Takes the mutex "Global\<name>", which only SYSTEM and the Administrators may open. Empty
// while another process holds it, or while the name exists but cannot be opened as that
// mutex; a holder that died without releasing it leaves it free. Raises when it cannot be
// made otherwise.
UniqueMutexHold TakeMachineLock(const std::string& name);

}  // namespace bw
