// Whole runs through the window: the real pipeline, the real build script and the stand-ins
// of the outside tools, started from the Start button.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppDriver.h"
#include "Machine.h"
#include "common/TestSupport.h"

namespace {

using bwdrive::App;
using namespace machine;

std::optional<std::string> StoredTag() {
  char data[64] = {};
  DWORD size = sizeof data - 1;
  if (RegGetValueA(HKEY_CURRENT_USER, kStoreKey, "bStart_Tag", RRF_RT_REG_SZ, nullptr, data,
                   &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(data);
}

// A machine on which an earlier run staged the worker (the stand-in) and installed both parts
// of the kit into the working folder, so a run goes straight to the build script. The
// product's uninstall key is left alone: other tests in this prefix expect it absent (the
// demo shows the copy from an installed product).
class WizardRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GetEnvironmentVariableA("DISPLAY", nullptr, 0)) {
      GTEST_SKIP() << "no X display: the window tests run under scripts/test";
    }
    for (const char* tool : {"adksetup.exe", "adkwinpesetup.exe", "TXBWorker.exe"}) {
      if (!bwtest::FileExists(Standin(tool))) GTEST_SKIP() << "stand-in " << tool << " not built";
    }
    ASSERT_NO_FATAL_FAILURE(AcceptAgreement());
    ASSERT_NO_FATAL_FAILURE(StageWorker());
    ASSERT_NO_FATAL_FAILURE(StageKit());
    ASSERT_NO_FATAL_FAILURE(StageConsoleTools());
    out_ = std::make_unique<bwtest::ScratchDir>("bwmedium");
  }

  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Bootwright"); }

  void StartIsoRun(App& app, const std::string& iso, const std::string& arguments = {}) {
    std::string why;
    ASSERT_TRUE(machine::StartIsoRun(app, WizardPath(), iso, why, arguments)) << why;
    ASSERT_TRUE(bwdrive::WaitFor([&] { return app.Enabled(bw::kIdCancel); }, kTimeout))
        << "the run did not start: " << app.Log();
    EXPECT_FALSE(app.Enabled(bw::kIdStart));
    EXPECT_FALSE(IsWindowEnabled(app.Control(bw::kIdOptions)));
  }

  void ExpectIdle(const App& app) {
    std::string why;
    EXPECT_TRUE(Idle(app, why)) << why;
  }

  std::unique_ptr<bwtest::ScratchDir> out_;
};

// The switch for a 64-bit medium reaches the build; the run's log stays in the working folder.
TEST_F(WizardRun, AnAmd64IsoRunReachesDoneAndLeavesTheImageAndItsLog) {
  const std::string logFile = WorkDir() + "\\Bootwright.log";
  DeleteFileA(logFile.c_str());
  App app;
  const std::string iso = *out_ / "Recovery.iso";
  StartIsoRun(app, iso, "/AMD64");
  ASSERT_TRUE(app.WaitIdle(kRunTimeout)) << app.Log();
  const std::string log = app.Log();
  EXPECT_NE(log.find("Creating the boot image...."), std::string::npos) << log;
  EXPECT_NE(log.find("bwrs.bat\" ISO " + bwtest::Quote(iso) + " amd64"), std::string::npos) << log;
  EXPECT_NE(log.find("DONE!"), std::string::npos) << log;
  EXPECT_TRUE(bwtest::FileExists(iso)) << log;
  ExpectIdle(app);
  EXPECT_TRUE(bwdrive::WaitFor([&] { return bwtest::ReadFileBytes(logFile) == log; }, kTimeout))
      << bwtest::ReadFileBytes(logFile);
  app.Close();
  EXPECT_TRUE(app.WaitExit(kTimeout));
}

TEST_F(WizardRun, CancelDuringTheBuildReturnsToIdle) {
  bwtest::ScopedEnv env;
  env.Set("BW_DISM_DELAY_MS", "30000");  // the kit's tools take their time
  App app;
  StartIsoRun(app, *out_ / "Cancelled.iso");
  ASSERT_TRUE(app.WaitLogContains("bwrs.bat", kTimeout)) << app.Log();
  app.Click(bw::kIdCancel);
  ASSERT_TRUE(app.WaitIdle(kTimeout)) << app.Log();
  const std::string log = app.Log();
  EXPECT_NE(log.find("Cancelled."), std::string::npos) << log;
  EXPECT_EQ(log.find("DONE!"), std::string::npos) << log;
  ExpectIdle(app);
  EXPECT_TRUE(app.Running());
  EndStrayDism();
  app.Close();
  EXPECT_TRUE(app.WaitExit(kTimeout));
}

TEST_F(WizardRun, ClosingDuringARunLetsItFinishFirst) {
  bwtest::ScopedEnv env;
  env.Set("BW_DISM_DELAY_MS", "700");  // long enough to close the window in the middle
  App app;
  const std::string iso = *out_ / "Finished.iso";
  StartIsoRun(app, iso);
  ASSERT_NO_FATAL_FAILURE(SetString(HKEY_CURRENT_USER, kStoreKey, "bStart_Tag", "unset"));
  app.Close();
  // The flag is written at once, but the window stays until the run has ended.
  ASSERT_TRUE(bwdrive::WaitFor([] { return StoredTag() == "0"; }, kTimeout));
  EXPECT_TRUE(app.Running());
  ASSERT_TRUE(app.WaitExit(kRunTimeout)) << "the program did not end after the run";
  EXPECT_EQ(app.ExitCode(), 0u);
  EXPECT_TRUE(bwtest::FileExists(iso));
}

// A second window of the same machine makes nothing while the first is building, and the
// first run goes on undisturbed.
TEST_F(WizardRun, ASecondWindowWaitsForTheFirstRun) {
  const std::string refused =
      "Another Bootwright window is making a medium. Start again when it has finished.";
  bwtest::ScopedEnv env;
  env.Set("BW_DISM_DELAY_MS", "2500");  // the first window's kit takes its time
  App first;
  StartIsoRun(first, *out_ / "First.iso");
  ASSERT_TRUE(first.WaitLogContains("bwrs.bat", kTimeout)) << first.Log();
  env.Unset("BW_DISM_DELAY_MS");

  App second;
  std::string why;
  ASSERT_TRUE(machine::StartIsoRun(second, WizardPath(), *out_ / "Second.iso", why)) << why;
  ASSERT_TRUE(second.WaitLogContains(refused, kTimeout)) << second.Log();
  ASSERT_TRUE(second.WaitIdle(kTimeout));
  EXPECT_EQ(Lines(second.Log()), (std::vector<std::string>{refused, ""}));
  EXPECT_TRUE(first.Enabled(bw::kIdCancel)) << "the first run ended too early to tell";

  ASSERT_TRUE(first.WaitIdle(kRunTimeout)) << first.Log();
  EXPECT_NE(first.Log().find("DONE!"), std::string::npos) << first.Log();
  EXPECT_TRUE(bwtest::FileExists(*out_ / "First.iso"));
  EXPECT_FALSE(bwtest::FileExists(*out_ / "Second.iso"));

  second.Click(bw::kIdStart);
  ASSERT_TRUE(second.WaitLogContains("DONE!", kRunTimeout)) << second.Log();
  ASSERT_TRUE(second.WaitIdle(kTimeout));
  EXPECT_TRUE(bwtest::FileExists(*out_ / "Second.iso")) << second.Log();
  for (App* app : {&first, &second}) {
    app->Close();
    EXPECT_TRUE(app->WaitExit(kTimeout));
  }
}

TEST_F(WizardRun, AUsbRunOnTheWindowsDriveIsRefused) {
  char windows[MAX_PATH + 1] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string drive = std::string(1, static_cast<char>(toupper(windows[0]))) + ":";
  App app;
  // The drive list starts at the drive of the current folder.
  ASSERT_TRUE(app.Launch(WizardPath(), drive + "\\")) << NoWindow(app);
  app.Click(bw::kIdUsb);
  app.Click(bw::kIdStart);
  HWND box = nullptr;
  ASSERT_TRUE(
      bwdrive::WaitFor([&] { return (box = app.FindBox("Warning")) != nullptr; }, kTimeout));
  const std::string question = app.BoxText(box);
  EXPECT_EQ(question.rfind("This command reformats the drive " + drive + " [", 0), 0u) << question;
  EXPECT_NE(question.find("]\r\n\r\nDo you want to continue?"), std::string::npos) << question;
  app.Click(GetDlgItem(box, IDYES));
  ASSERT_TRUE(app.WaitLogContains("cannot be reformatted", kTimeout)) << app.Log();
  ASSERT_TRUE(app.WaitIdle(kTimeout));
  EXPECT_NE(app.Log().find(drive + " holds the running Windows and cannot be reformatted"),
            std::string::npos)
      << app.Log();
  EXPECT_EQ(app.Log().find("bwrs.bat"), std::string::npos) << "the build script ran";
  ExpectIdle(app);
  app.Close();
  EXPECT_TRUE(app.WaitExit(kTimeout));
}

}  // namespace
