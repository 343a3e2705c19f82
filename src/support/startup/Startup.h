// The process start-up services: run in a fixed order before the window exists, finalized
// in reverse when the process ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bw {

struct StartupSection {
  std::string name;
  std::function<void()> init;
  std::function<void()> fini;  // may be empty
};

// The library's sections in their start-up order.
std::vector<StartupSection> LibrarySections();

class StartupSections {
 public:
  // Runs every section in order. When one raises, the sections that ran (the failing one
  // included) are finalized in reverse and the exception goes on to the caller.
  StartupSections();
  explicit StartupSections(std::vector<StartupSection> sections);
  // Finalizes every section in reverse order.
  ~StartupSections();
  StartupSections(const StartupSections&) = delete;
  StartupSections& operator=(const StartupSections&) = delete;

 private:
  void FinalizeFirst(std::size_t count) noexcept;

  std::vector<StartupSection> sections_;
};

}  // namespace bw
