// One holder at a time on the whole machine, through a named mutex.
#pragma once

#include <string>

#include "support/Handles.h"

namespace bw {

// Takes the mutex "Global\<name>", or "Local\<name>" (this session only) where the global one
// cannot be made. Empty while another process holds it; a holder that died without releasing
// it leaves it free. Raises when neither can be made.
UniqueMutexHold TakeMachineLock(const std::string& name);

}  // namespace bw
