#include "pipeline/MediaRun.h"

namespace bw {

// Placeholder until the run lands.
void bStartClick(RunHost& host) {
  if (host.StartTag() != 0) host.Unlock();
}

std::string GetSpecialFolder(int) { return {}; }

}  // namespace bw
