// Whole runs through the window: the real pipeline, the real build script and the stand-ins
// of the outside tools, started from the Start button.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <commctrl.h>

#include <tlhelp32.h>

#include <memory>
#include <optional>

#include <string>

#include "AppDriver.h"
#include "common/TestSupport.h"
#include "support/Handles.h"

namespace {

using bwdrive::App;

constexpr DWORD kTimeout = 20000;
constexpr DWORD kRunTimeout = 90000;
constexpr const char* kStoreKey = "Software\\Bootwright\\TForm1";

// Why a start gave no window: a program that ended at once found no working display.
std::string NoWindow(const App& app) {
  return app.Running() ? "no window within the time"
                       : "the wizard ended at once with code " + std::to_string(app.ExitCode()) +
                             " (no window could be made on DISPLAY?)";
}

std::string WizardPath() { return bwtest::BinDir() + "\\Bootwright.exe"; }
std::string Standin(const std::string& name) { return bwtest::StandinDir() + "\\" + name; }

std::string WorkDir() {
  char folder[MAX_PATH + 1] = {};
  SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, TRUE);
  return std::string(folder) + "\\Tessel Software\\Bootwright";
}
std::string Kit() { return WorkDir() + "\\ADK\\Assessment and Deployment Kit"; }

void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& value) {
  bw::UniqueKey key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
}

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
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Bootwright");
    SetString(HKEY_CURRENT_USER, kStoreKey, "bStart_Tag", "0");  // straight to the options

    CreateDirectoryA(WorkDir().substr(0, WorkDir().rfind('\\')).c_str(), nullptr);
    CreateDirectoryA(WorkDir().c_str(), nullptr);
    CreateDirectoryA((WorkDir() + "\\TXB").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(Standin("TXBWorker.exe").c_str(),
                          (WorkDir() + "\\TXB\\TXBWorker.exe").c_str(), FALSE))
        << GetLastError();
    StageKit();
    StageConsoleTools();
    out_ = std::make_unique<bwtest::ScratchDir>("bwmedium");
  }

  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Bootwright"); }

  static void StageKit() {
    const std::string adk = WorkDir() + "\\ADK";
    if (!bwtest::FileExists(Kit() + "\\Deployment Tools\\DandISetEnv.bat")) {
      auto result = bwtest::RunProcess(bwtest::Quote(Standin("adksetup.exe")) +
                                       " /features OptionId.DeploymentTools /installpath " +
                                       bwtest::Quote(adk) + " /q");
      ASSERT_EQ(result.exitCode, 0u) << result.output;
    }
    if (!bwtest::FileExists(Kit() + "\\Windows Preinstallation Environment\\copype.cmd")) {
      auto result =
          bwtest::RunProcess(bwtest::Quote(Standin("adkwinpesetup.exe")) +
                             " /features OptionId.WindowsPreinstallationEnvironment /installpath " +
                             bwtest::Quote(adk) + " /q");
      ASSERT_EQ(result.exitCode, 0u) << result.output;
    }
  }

  // The build script copies timeout and choice from SysWow64, else from system32; Wine has
  // no timeout.exe. The stand-ins go into system32 only (once, atomically: other tests in
  // this prefix run beside these and keep SysWow64 empty).
  static void StageConsoleTools() {
    char system[MAX_PATH + 1] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    for (const char* tool : {"timeout.exe", "choice.exe"}) {
      const std::string target = std::string(system) + "\\" + tool;
      if (bwtest::FileExists(target)) continue;
      const std::string staging = target + ".bw-" + std::to_string(GetCurrentProcessId());
      CopyFileA(Standin(tool).c_str(), staging.c_str(), FALSE);
      if (!MoveFileA(staging.c_str(), target.c_str())) DeleteFileA(staging.c_str());
    }
  }

  // A cancelled script leaves its running child behind (only the script is ended); a stray
  // DISM must not reach into the next run's mount.
  static void EndStrayDism() {
    bw::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
      if (lstrcmpiA(entry.szExeFile, "dism.exe") != 0) continue;
      bw::UniqueHandle process(
          OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
      if (!process) continue;
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
    }
  }

  void StartIsoRun(App& app, const std::string& iso) {
    ASSERT_TRUE(app.Launch(WizardPath())) << NoWindow(app);
    ASSERT_EQ(app.Text(bwdrive::kStart), "Start");
    SendMessageA(app.Control(bwdrive::kIsoFile), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(iso.c_str()));
    app.Click(bwdrive::kStart);
    ASSERT_TRUE(bwdrive::WaitFor([&] { return app.Enabled(bwdrive::kCancel); }, kTimeout))
        << "the run did not start: " << app.Log();
    EXPECT_FALSE(app.Enabled(bwdrive::kStart));
    EXPECT_FALSE(IsWindowEnabled(app.Control(bwdrive::kOptions)));
  }

  void ExpectIdle(const App& app) {
    EXPECT_TRUE(app.Enabled(bwdrive::kStart));
    EXPECT_FALSE(app.Enabled(bwdrive::kCancel));
    EXPECT_TRUE(IsWindowEnabled(app.Control(bwdrive::kOptions)));
    EXPECT_EQ(SendMessageA(app.Control(bwdrive::kProgress), PBM_GETPOS, 0, 0), 0);
  }

  std::unique_ptr<bwtest::ScratchDir> out_;
};

TEST_F(WizardRun, AnIsoRunReachesDoneAndLeavesTheImage) {
  App app;
  const std::string iso = *out_ / "Recovery.iso";
  StartIsoRun(app, iso);
  ASSERT_TRUE(app.WaitIdle(kRunTimeout)) << app.Log();
  const std::string log = app.Log();
  EXPECT_NE(log.find("Creating the boot image...."), std::string::npos) << log;
  EXPECT_NE(log.find("DONE!"), std::string::npos) << log;
  EXPECT_TRUE(bwtest::FileExists(iso)) << log;
  ExpectIdle(app);
  app.Close();
  EXPECT_TRUE(app.WaitExit(kTimeout));
}

TEST_F(WizardRun, CancelDuringTheBuildReturnsToIdle) {
  bwtest::ScopedEnv env;
  env.Set("BW_DISM_DELAY_MS", "30000");  // the kit's tools take their time
  App app;
  StartIsoRun(app, *out_ / "Cancelled.iso");
  ASSERT_TRUE(app.WaitLogContains("bwrs.bat", kTimeout)) << app.Log();
  app.Click(bwdrive::kCancel);
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
  SetString(HKEY_CURRENT_USER, kStoreKey, "bStart_Tag", "unset");
  app.Close();
  // The flag is written at once, but the window stays until the run has ended.
  ASSERT_TRUE(bwdrive::WaitFor([] { return StoredTag() == "0"; }, kTimeout));
  EXPECT_TRUE(app.Running());
  ASSERT_TRUE(app.WaitExit(kRunTimeout)) << "the program did not end after the run";
  EXPECT_EQ(app.ExitCode(), 0u);
  EXPECT_TRUE(bwtest::FileExists(iso));
}

TEST_F(WizardRun, AUsbRunOnTheWindowsDriveIsRefused) {
  char windows[MAX_PATH + 1] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string drive = std::string(1, static_cast<char>(toupper(windows[0]))) + ":";
  App app;
  // The drive list starts at the drive of the current folder.
  ASSERT_TRUE(app.Launch(WizardPath(), drive + "\\")) << NoWindow(app);
  app.Click(bwdrive::kUsb);
  app.Click(bwdrive::kStart);
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
