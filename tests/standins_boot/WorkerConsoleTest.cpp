// The worker and console-tool stand-ins: switches, outputs and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/ConsoleSession.h"
#include "common/TestSupport.h"
#include "support/Versions.h"

namespace {

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("BW_JOURNAL", scratch_ / "journal.txt");
    for (const char* name :
         {"BW_CHOICE_ANSWER", "BW_CHOICE_EXIT", "BW_CHOICE_WAIT_MS", "BW_TIMEOUT_WAIT_MS",
          "BW_PING_WAIT_MS", "BW_WORKER_SERVER", "BW_WORKER_DISCOVER_EXIT",
          "BW_WORKER_RECOVERY_EXIT", "BW_WORKER_DELAY_MS", "BW_WPEINIT_EXIT"}) {
      env_.Unset(name);
    }
  }

  static std::string Tool(const std::string& name) {
    return bwtest::Quote(bwtest::StandinDir() + "\\" + name + ".exe");
  }

  bwtest::ProcessResult Run(const std::string& tool, const std::string& arguments) {
    return bwtest::RunProcess(Tool(tool) + " " + arguments, scratch_.Path());
  }

  std::vector<std::string> Journal() { return bwtest::ReadJournal(scratch_ / "journal.txt"); }

  bool Journaled(const std::string& call) {
    const std::vector<std::string> calls = Journal();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }

  bwtest::ScratchDir scratch_{"standins"};
  bwtest::ScopedEnv env_;
};

TEST_F(StandinTest, WorkerComesInEveryFileVersionTheWizardIsTriedWith) {
  const std::pair<const char*, const char*> files[] = {
      {"TXBWorker.exe", "6.1.6.0"},           {"TXBWorker-6.1.5.9.exe", "6.1.5.9"},
      {"TXBWorker-6.10.2.0.exe", "6.10.2.0"}, {"TXBWorker-10.0.0.0.exe", "10.0.0.0"},
      {"TXBWorker-noversion.exe", "0.0.0.0"},
  };
  for (const auto& [file, version] : files) {
    EXPECT_EQ(bw::GetFileVersionString(bwtest::StandinDir() + "\\" + file), version) << file;
  }
}

TEST_F(StandinTest, WorkerDiscoveryPrintsAddressFirstOrEndsWithConfiguredCode) {
  auto found = Run("TXBWorker", "-discover");
  EXPECT_EQ(found.exitCode, 0u);
  EXPECT_EQ(found.output.substr(0, found.output.find('\n') + 1), "192.168.1.10\r\n");

  env_.Set("BW_WORKER_SERVER", "10.9.8.7");
  EXPECT_EQ(Run("TXBWorker", "-discover").output.rfind("10.9.8.7\r\n", 0), 0u);

  env_.Set("BW_WORKER_DISCOVER_EXIT", "53");
  auto missing = Run("TXBWorker", "-discover");
  EXPECT_EQ(missing.exitCode, 53u);
  EXPECT_EQ(missing.output.find("10.9.8.7"), std::string::npos);
  ASSERT_FALSE(Journal().empty());
  EXPECT_EQ(Journal()[0], "TXBWorker -discover");
}

TEST_F(StandinTest, WorkerRecoveryTakesTwoToFiveWordsAndEndsWithConfiguredCode) {
  EXPECT_EQ(Run("TXBWorker", "-recovery PC1 10.0.0.5:4531").exitCode, 0u);
  EXPECT_EQ(
      Run("TXBWorker", "-recovery PC1 10.0.0.5:4531 10.0.0.20 255.255.255.0 10.0.0.1").exitCode,
      0u);
  EXPECT_TRUE(Journaled("TXBWorker -recovery PC1 10.0.0.5:4531 10.0.0.20 255.255.255.0 10.0.0.1"));

  env_.Set("BW_WORKER_RECOVERY_EXIT", "162");
  EXPECT_EQ(Run("TXBWorker", "-recovery PC1 10.0.0.5:4531").exitCode, 162u);

  EXPECT_EQ(Run("TXBWorker", "-recovery PC1").exitCode, 87u);
  EXPECT_EQ(Run("TXBWorker", "-recovery a b c d e f").exitCode, 87u);
  auto unknown = Run("TXBWorker", "-restore");
  EXPECT_EQ(unknown.exitCode, 87u);
  EXPECT_NE(unknown.output.find("unknown mode -restore"), std::string::npos);
  EXPECT_NE(Run("TXBWorker", "").exitCode, 0u);
}

TEST_F(StandinTest, ChoiceAnswersWithTheKeysPositionFromInputSettingOrDefault) {
  env_.Set("BW_CHOICE_WAIT_MS", "0");
  auto fallback = Run("choice", "/c 123 /t 15 /d 2 /n");
  EXPECT_EQ(fallback.exitCode, 2u);
  EXPECT_EQ(fallback.output, "2\r\n");
  EXPECT_EQ(Run("choice", "/C YN /T 5 /D N").output, "[Y,N]?N\r\n");

  env_.Set("BW_CHOICE_ANSWER", "3");
  EXPECT_EQ(Run("choice", "/c 123 /t 15 /d 1 /n").exitCode, 3u);
  env_.Unset("BW_CHOICE_ANSWER");

  // A typed key ends the wait; keys outside the list are passed over, case does not matter.
  env_.Unset("BW_CHOICE_WAIT_MS");
  DWORD start = GetTickCount();
  bwtest::ConsoleSession typed(Tool("choice") + " /c 123 /t 15 /d 1 /n");
  typed.Type("x3");
  EXPECT_EQ(typed.Finish(), 3u);
  bwtest::ConsoleSession lower(Tool("choice") + " /c YN");
  lower.Type("n");
  EXPECT_EQ(lower.Finish(), 2u);
  EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST_F(StandinTest, ChoiceRefusesWhatTheRealToolRefuses) {
  EXPECT_EQ(Run("choice", "/c 123 /t 15").exitCode, 255u);  // a timeout needs a default
  EXPECT_EQ(Run("choice", "/c 123 /t 15 /d 4").exitCode, 255u);
  EXPECT_EQ(Run("choice", "/c 123 /t x /d 1").exitCode, 255u);
  auto unknown = Run("choice", "/q");
  EXPECT_EQ(unknown.exitCode, 255u);
  EXPECT_NE(unknown.output.find("ERROR"), std::string::npos);
  env_.Set("BW_CHOICE_EXIT", "255");
  EXPECT_EQ(Run("choice", "/c 123 /t 15 /d 1 /n").exitCode, 255u);
}

TEST_F(StandinTest, TimeoutWaitsItsSecondsUnlessToldOtherwise) {
  DWORD start = GetTickCount();
  EXPECT_EQ(Run("timeout", "/t 1").exitCode, 0u);
  EXPECT_GE(GetTickCount() - start, 900u);

  env_.Set("BW_TIMEOUT_WAIT_MS", "0");
  start = GetTickCount();
  auto quick = Run("timeout", "/t 30");
  EXPECT_EQ(quick.exitCode, 0u);
  EXPECT_NE(quick.output.find("Waiting for 30 seconds"), std::string::npos);
  EXPECT_LT(GetTickCount() - start, 5000u);

  EXPECT_EQ(Run("timeout", "/t x").exitCode, 1u);
  EXPECT_EQ(Run("timeout", "/q").exitCode, 1u);
  EXPECT_EQ(Run("timeout", "").exitCode, 1u);
}

TEST_F(StandinTest, WpeinitAndPingJournalAndReturnAtOnce) {
  EXPECT_EQ(Run("wpeinit", "").exitCode, 0u);
  env_.Set("BW_WPEINIT_EXIT", "4");
  EXPECT_EQ(Run("wpeinit", "").exitCode, 4u);
  EXPECT_EQ(Run("wpeinit", "/bogus").exitCode, 87u);

  DWORD start = GetTickCount();
  EXPECT_EQ(Run("ping", "localhost -n 40").exitCode, 0u);
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_EQ(Run("ping", "-n 40").exitCode, 1u);

  ASSERT_FALSE(Journal().empty());
  EXPECT_EQ(Journal()[0], "wpeinit");
  EXPECT_TRUE(Journaled("ping localhost -n 40"));
}

}  // namespace
