#include "support/startup/Startup.h"

#include "support/Errors.h"
#include "support/startup/FileProtect.h"
#include "support/startup/FileSystemEntries.h"
#include "support/startup/ProcessUtils.h"
#include "support/startup/SharedUtils.h"
#include "support/startup/SystemInformation.h"
#include "support/startup/Unix.h"
#include "support/startup/Wow64.h"
#include "support/startup/WindowsSecurity.h"

namespace bw {

namespace {

void ReleaseErrorTable() {
  auto& table = CustomErrorMessages();
  table.clear();
  table.shrink_to_fit();
}

}  // namespace

// The order matters in three places: Errors comes before everything that can raise, WOW64
// before the program path that asks for it, WindowsSecurity before the task that reads the
// user's SID as it is created.
std::vector<StartupSection> LibrarySections() {
  return {
      {"Errors", [] {}, ReleaseErrorTable},
      {"Unix", InitUnix, FinalizeUnix},
      {"WOW64", InitWow64, {}},
      {"ProcessUtils", InitProcessUtils, FinalizeProcessUtils},
      {"SystemInformation", InitSystemInformation, FinalizeSystemInformation},
      {"EncryptingFileSystem", InitEncryptingFileSystem, {}},
      {"SymbolicLink", InitSymbolicLink, {}},
      {"WindowsSecurity", InitWindowsSecurity, {}},
      {"FileProtect", InitFileProtect, FinalizeFileProtect},
      {"SharedUtils", InitSharedUtils, FinalizeSharedUtils},
  };
}

StartupSections::StartupSections() : StartupSections(LibrarySections()) {}

StartupSections::StartupSections(std::vector<StartupSection> sections)
    : sections_(std::move(sections)) {
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    try {
      if (sections_[i].init) sections_[i].init();
    } catch (...) {
      // The failing section may have left half of its work behind: it is finalized too.
      FinalizeFirst(i + 1);
      throw;
    }
  }
}

StartupSections::~StartupSections() { FinalizeFirst(sections_.size()); }

void StartupSections::FinalizeFirst(std::size_t count) noexcept {
  for (std::size_t i = count; i-- > 0;) {
    try {
      if (sections_[i].fini) sections_[i].fini();
    } catch (...) {
      // A finalization that fails must not keep the others from running.
    }
  }
}

}  // namespace bw
