#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "support/Errors.h"
#include "support/startup/FileProtect.h"
#include "support/startup/SharedUtils.h"
#include "support/startup/SystemInformation.h"
#include "support/startup/Unix.h"
#include "support/startup/Wow64.h"

namespace {

constexpr std::int64_t kSecond = 10'000'000;  // 100-ns units

// Advances one pass of exactly one second (the formula adds 1 to the time difference) whose
// idle share is `idleShare` percent on one processor.
void Pass(bw::CpuSamplerState& state, std::int64_t& idle, std::int64_t& now, double idleShare) {
  idle += static_cast<std::int64_t>(idleShare * kSecond / 100);
  now += kSecond - 1;
  bw::CpuSampleStep(state, idle, now, 1);
}

TEST(CpuSampler, FirstPassRecordsZeroThenUsageOfTheIdleShare) {
  bw::CpuSamplerState state;
  std::int64_t idle = 123456789, now = 5 * kSecond;
  bw::CpuSampleStep(state, idle, now, 1);
  EXPECT_EQ(state.history[0], 0);
  Pass(state, idle, now, 25.0);
  EXPECT_EQ(state.history[0], 75);
  EXPECT_EQ(state.history[1], 0);
  Pass(state, idle, now, 57.5);  // 42.5 + 0.5 truncates to 43
  EXPECT_EQ(state.history[0], 43);
  Pass(state, idle, now, 57.6);
  EXPECT_EQ(state.history[0], 42);
}

TEST(CpuSampler, IdleTimeIsSharedByTheProcessors) {
  bw::CpuSamplerState state;
  bw::CpuSampleStep(state, 1000, kSecond, 4);
  // 4 processors, 2 s of idle time in one second: half of the machine idles.
  bw::CpuSampleStep(state, 1000 + 2 * kSecond, 2 * kSecond - 1, 4);
  EXPECT_EQ(state.history[0], 50);
}

TEST(CpuSampler, ClampsBothWays) {
  bw::CpuSamplerState state;
  std::int64_t idle = 50 * kSecond, now = kSecond;
  bw::CpuSampleStep(state, idle, now, 1);
  Pass(state, idle, now, -30.0);  // the idle time went backwards
  EXPECT_EQ(state.history[0], 100);
  Pass(state, idle, now, 250.0);  // more idle time than there was time
  EXPECT_EQ(state.history[0], 0);
  // A clock that stands still or goes back must not yield an undefined conversion.
  bw::CpuSampleStep(state, idle + kSecond, now - 1, 1);
  EXPECT_GE(state.history[0], 0);
  EXPECT_LE(state.history[0], 100);
}

TEST(CpuSampler, TheEleventhSamplePushesTheFirstOut) {
  bw::CpuSamplerState state;
  std::int64_t idle = 1, now = kSecond;
  bw::CpuSampleStep(state, idle, now, 1);
  Pass(state, idle, now, 5.0);  // 95, the second sample
  for (int usage = 11; usage <= 19; ++usage) Pass(state, idle, now, 100.0 - usage);
  // Ten samples after the first: the first (0) is gone, the second is the oldest.
  EXPECT_EQ(state.history[0], 19);
  EXPECT_EQ(state.history[8], 11);
  EXPECT_EQ(state.history[9], 95);
  Pass(state, idle, now, 80.0);
  EXPECT_EQ(state.history[0], 20);
  EXPECT_EQ(state.history[9], 11);
}

TEST(Wow64, MapSysnativePath) {
  const std::string lower = "C:\\Windows\\system32\\drivers\\system32\\x.exe";
  EXPECT_EQ(bw::MapSysnativePath(lower, true), "C:\\Windows\\Sysnative\\drivers\\system32\\x.exe");
  EXPECT_EQ(bw::MapSysnativePath(lower, false), lower);
  const std::string capital = "C:\\Windows\\System32\\x.exe";
  EXPECT_EQ(bw::MapSysnativePath(capital, true), capital);
  EXPECT_EQ(bw::MapSysnativePath("C:\\system32", true), "C:\\system32");  // no closing "\"
}

BOOL WINAPI FailingIsWow64Process(HANDLE, PBOOL) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(Wow64, IsWow64WithoutWithAndWithFailingEntry) {
  const auto saved = bw::pIsWow64Process;
  bw::pIsWow64Process = nullptr;
  EXPECT_FALSE(bw::IsWow64());
  bw::InitWow64();
  ASSERT_NE(bw::pIsWow64Process, nullptr);
  // The tests run in a 64-bit prefix: a 32-bit build of them runs under WOW64.
  const bool wow64 = sizeof(void*) == 4;
  EXPECT_EQ(bw::IsWow64(), wow64);
  const std::string path = "C:\\windows\\system32\\x.exe";
  EXPECT_EQ(bw::MapSysnativePath(path), wow64 ? "C:\\windows\\Sysnative\\x.exe" : path);

  bw::pIsWow64Process = FailingIsWow64Process;
  EXPECT_TRUE(bwtest::RaisesOSError([&] { bw::MapSysnativePath(path); }, ERROR_ACCESS_DENIED,
                                    bw::SystemErrorText(ERROR_ACCESS_DENIED)))
      << "a failing IsWow64Process must raise";
  // A path without "\system32\" never needs the answer.
  EXPECT_EQ(bw::MapSysnativePath("C:\\x.exe"), "C:\\x.exe");
  bw::pIsWow64Process = saved;
}

TEST(Unix, WineExportAndServerName) {
  EXPECT_TRUE(bw::ModuleExports("ntdll.dll", "wine_get_version"));
  EXPECT_FALSE(bw::ModuleExports("kernel32.dll", "wine_get_version"));
  EXPECT_FALSE(bw::ModuleExports("bw-no-such-module.dll", "wine_get_version"));
  EXPECT_TRUE(bw::IsServerExecutable("C:\\Tessel\\txbserver.exe"));
  EXPECT_FALSE(bw::IsServerExecutable("C:\\Tessel\\Bootwright.exe"));
}

TEST(SharedUtils, PathPartsAndVersionPrefix) {
  EXPECT_EQ(bw::ExtractFilePath("C:\\a\\b.exe"), "C:\\a\\");
  EXPECT_EQ(bw::ExtractFilePath("C:b.exe"), "C:");
  EXPECT_EQ(bw::ExtractFileDrive("C:\\a\\b"), "C:");
  EXPECT_EQ(bw::ExtractFileDrive("\\\\srv\\share\\dir\\f"), "\\\\srv\\share");
  EXPECT_EQ(bw::ExtractFileDrive("\\\\srv\\share"), "\\\\srv\\share");
  EXPECT_EQ(bw::ExtractFileDrive("rel\\x"), "");
  EXPECT_EQ(bw::MajorMinor("10.2.3.4"), "10.2");
  EXPECT_EQ(bw::MajorMinor("10"), "");
}

// The worker beside a server is copied once, and only when its major and minor version
// match the program's.
TEST(SharedUtils, ServerWorkerCopy) {
  bwtest::ScratchDir dir("bw-worker");
  const std::string folder = dir.Path() + "\\";
  const std::string worker = bwtest::ReadFileBytes(bwtest::BinDir() + "\\bw_probe_versioned.exe");
  ASSERT_NO_FATAL_FAILURE(
      bwtest::WriteFileBytes(folder + "TXBWorker.exe", worker));  // version 1.2.3.4

  bw::CopyServerWorker(folder, "1.2.9.9");
  EXPECT_FALSE(bwtest::FileExists(folder + "TXBWorker.ex_")) << "no server program here";

  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(folder + "TXBServer.exe", "server"));
  bw::CopyServerWorker(folder, "1.20.3.4");
  bw::CopyServerWorker(folder, "2.2.3.4");
  EXPECT_FALSE(bwtest::FileExists(folder + "TXBWorker.ex_")) << "versions differ";

  bw::CopyServerWorker(folder, "1.2.9.9");
  ASSERT_TRUE(bwtest::FileExists(folder + "TXBWorker.ex_"));
  EXPECT_EQ(bwtest::ReadFileBytes(folder + "TXBWorker.ex_"), worker);

  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(folder + "TXBWorker.ex_", "older copy"));
  bw::CopyServerWorker(folder, "1.2.9.9");
  EXPECT_EQ(bwtest::ReadFileBytes(folder + "TXBWorker.ex_"), "older copy");
}

}  // namespace
