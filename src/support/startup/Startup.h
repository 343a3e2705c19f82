// The process start-up services: run in a fixed order before the window exists, finalized
// in reverse when the process ends.
#pragma once

namespace bw {

class StartupSections {
 public:
  // Runs every section in order. When one raises, the sections that ran (the failing one
  // included) are finalized in reverse and the exception goes on to the caller.
  StartupSections();
  // Finalizes every section in reverse order.
  ~StartupSections();
  StartupSections(const StartupSections&) = delete;
  StartupSections& operator=(const StartupSections&) = delete;
};

}  // namespace bw
