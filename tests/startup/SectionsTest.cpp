#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/TestSupport.h"
#include "support/Errors.h"
#include "support/startup/FileProtect.h"
#include "support/startup/ProcessUtils.h"
#include "support/startup/SharedUtils.h"
#include "support/startup/Startup.h"
#include "support/startup/SystemInformation.h"
#include "support/startup/Unix.h"
#include "support/startup/WindowsSecurity.h"
#include "support/startup/Wow64.h"

namespace {

using bw::StartupSection;
using bw::StartupSections;

std::vector<StartupSection> Recorded(std::vector<std::string>& log, int count, int failing = -1) {
  std::vector<StartupSection> sections;
  for (int i = 0; i < count; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 's');
    sections.push_back({name,
                        [&log, name, i, failing] {
                          log.push_back(std::string("init ").append(name));
                          if (i == failing)
                            throw bw::EOSError(std::string("broken ").append(name), 5);
                        },
                        [&log, name] { log.push_back(std::string("fini ").append(name)); }});
  }
  return sections;
}

TEST(StartupSections, RunInOrderAndFinalizeInReverse) {
  std::vector<std::string> log;
  {
    StartupSections sections(Recorded(log, 3));
    EXPECT_EQ(log, (std::vector<std::string>{"init s0", "init s1", "init s2"}));
    log.clear();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"fini s2", "fini s1", "fini s0"}));
}

TEST(StartupSections, FailingSectionFinalizesWhatRanItselfIncludedAndRethrows) {
  std::vector<std::string> log;
  EXPECT_TRUE(
      bwtest::RaisesOSError([&] { StartupSections sections(Recorded(log, 5, 2)); }, 5, "broken s2"))
      << "the failing section's exception did not reach the caller";
  EXPECT_EQ(log, (std::vector<std::string>{"init s0", "init s1", "init s2", "fini s2", "fini s1",
                                           "fini s0"}));
}

TEST(StartupSections, SectionsWithoutFinalizationAndAFailingFinalization) {
  std::vector<std::string> log;
  {
    std::vector<StartupSection> sections = Recorded(log, 3);
    sections[1].fini = nullptr;
    sections[2].fini = [&log] {
      log.push_back("fini s2");
      throw bw::Exception("fini failed");
    };
    StartupSections started(std::move(sections));
    log.clear();
  }
  // A failing finalization does not keep the earlier ones from running.
  EXPECT_EQ(log, (std::vector<std::string>{"fini s2", "fini s0"}));
}

TEST(StartupSections, LibraryOrder) {
  std::vector<std::string> names;
  for (const auto& section : bw::LibrarySections()) names.push_back(section.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"Errors", "Unix", "WOW64", "ProcessUtils",
                                      "SystemInformation", "EncryptingFileSystem", "SymbolicLink",
                                      "WindowsSecurity", "FileProtect", "SharedUtils"}));
}

// When the user's SID cannot be read, creating the task fails the start: everything that ran
// is finalized and the shared utility section never runs.
TEST(StartupSections, LibraryStartFailsWhenTheTaskCannotBeCreated) {
  std::vector<StartupSection> sections = bw::LibrarySections();
  std::vector<std::string> finalized;
  for (auto& section : sections) {
    if (section.name == "WindowsSecurity") section.init = [] {};  // leaves both entries empty
    section.fini = [&finalized, name = section.name, fini = section.fini] {
      finalized.push_back(name);
      if (fini) fini();
    };
  }
  bw::pConvertSidToStringSidA = nullptr;
  EXPECT_TRUE(bwtest::RaisesOSError([&] { StartupSections started(std::move(sections)); }, 1150,
                                    bw::ComposeErrorMessage(1150, {"CrrentUserSID"})))
      << "the start went through without the user's SID";
  EXPECT_EQ(finalized, (std::vector<std::string>{"FileProtect", "WindowsSecurity", "SymbolicLink",
                                                 "EncryptingFileSystem", "SystemInformation",
                                                 "ProcessUtils", "WOW64", "Unix", "Errors"}));
  EXPECT_EQ(bw::FileProtectTask, nullptr);
  EXPECT_TRUE(bw::ProgramPath.empty());
}

// The library's own sections once, as the program runs them under Wine.
TEST(StartupSections, RealStartAndExitUnderWine) {
  using Clock = std::chrono::steady_clock;
  std::optional<StartupSections> sections;
  sections.emplace();
  {
    EXPECT_TRUE(bw::IsWine);
    EXPECT_NE(bw::wine_get_unix_file_name, nullptr);
    EXPECT_FALSE(bw::IsServerProcess);
    ASSERT_NE(bw::pIsWow64Process, nullptr);
    EXPECT_EQ(bw::IsWow64(), sizeof(void*) == 4);  // a 64-bit prefix
    EXPECT_NE(bw::pDuplicateTokenEx, nullptr);
    EXPECT_NE(bw::pConvertSidToStringSidA, nullptr);
    EXPECT_NE(bw::pConvertStringSecurityDescriptorToSecurityDescriptorA, nullptr);
    EXPECT_GE(bw::SystemInfo.dwNumberOfProcessors, 1u);
    EXPECT_EQ(bw::ProductType, VER_NT_WORKSTATION);
    std::printf("LegacyBios under Wine: %d\n", bw::LegacyBios ? 1 : 0);

    ASSERT_NE(bw::FileProtectTask, nullptr);
    EXPECT_EQ(bw::FileProtectTask->OwnerSid.rfind("S-1-5-", 0), 0u)
        << bw::FileProtectTask->OwnerSid;
    EXPECT_TRUE(bw::FileProtectTask->Files().empty());
    EXPECT_FALSE(bw::FileProtectTask->Finished());

    EXPECT_EQ(bw::ProgramPath, bw::ExecutablePath());
    EXPECT_EQ(bw::ProgramFolder, bw::ProgramPath.substr(0, bw::ProgramPath.rfind('\\') + 1));
    EXPECT_EQ(bw::ProgramVersion, "0.0.0.0");  // the test program has no version resource
    EXPECT_EQ(bw::ShippedWorkerVersion, "0.0.0.0");
    EXPECT_STREQ(std::localeconv()->decimal_point, ".");
    EXPECT_NE(bw::EngineMessageHook, nullptr);
    EXPECT_NE(bw::EngineErrorHook, nullptr);

    // The sampler takes one sample a second; two passes give a first real value.
    const auto before = bw::CpuSamplerPasses.load();
    const auto deadline = Clock::now() + std::chrono::milliseconds(3500);
    while (bw::CpuSamplerPasses.load() < before + 2 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GE(bw::CpuSamplerPasses.load(), before + 2) << "the CPU sampler does not run";
    for (const auto& value : bw::CpuUsageHistory) {
      EXPECT_GE(value.load(), 0);
      EXPECT_LE(value.load(), 100);
    }
  }
  const auto start = Clock::now();
  sections.reset();
  const auto exitTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  // The idle task notices the stop within one 500 ms slice of its wait.
  EXPECT_LT(exitTime.count(), 700);
  EXPECT_EQ(bw::FileProtectTask, nullptr);
  EXPECT_TRUE(bw::ProgramPath.empty());
}

}  // namespace
