// What goes wrong on a user's machine, one case at a time, through the window: each case checks
// the log's last words, that the window is idle again and that nothing already in place was
// lost, so that the next run resumes from there.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <softpub.h>
#include <wintrust.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppDriver.h"
#include "Machine.h"
#include "ServedMachine.h"
#include "common/TestSupport.h"
#include "support/Errors.h"

namespace {

using bwdrive::App;
using namespace machine;

// A step's error line: the code's text, then the details.
std::string ErrorLine(DWORD code, const std::string& details = {}) {
  return bw::ComposeErrorMessage(code, {details});
}

std::string Trimmed(std::string log) {
  while (!log.empty() && (log.back() == '\r' || log.back() == '\n')) log.pop_back();
  return log;
}

// A download's error line for a code of the trust service: the number, then the system's
// text when it has one (Wine has none for most of these).
std::string TrustLine(LONG code) {
  return Trimmed(bw::SystemErrorMessage(static_cast<DWORD>(code)));
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

constexpr const char* kBeforeTheRun = "(before the run)";

// A machine on which an earlier run left the worker and both parts of the kit; each case takes
// away or spoils what it needs.
class Faults : public ServedMachine {
 protected:
  void SetUp() override {
    ServedMachine::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_NO_FATAL_FAILURE(StageWorker());
    ASSERT_NO_FATAL_FAILURE(StageKit());
    iso_ = *out_ / "Recovery.iso";
  }

  void TearDown() override {
    if (app_ && app_->Running()) {
      app_->Close();
      if (!app_->WaitExit(kRunTimeout)) app_->Kill();
    }
    EndStrayDism();
    SetFileAttributesA(Worker().c_str(), FILE_ATTRIBUTE_NORMAL);
    ServedMachine::TearDown();
  }

  // One run from the Start button to idle again; `during` acts while it runs.
  void Run(const std::string& iso, const std::function<void(App&)>& during = {}) {
    if (!app_) {
      app_ = std::make_unique<App>();
      ASSERT_TRUE(app_->Launch(WizardUnderTestPath(), "C:\\", kTimeout, bwtest::kStandinSwitch))
          << NoWindow(*app_);
    }
    App& app = *app_;
    SendMessageA(app.Control(bw::kIdIsoFile), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(iso.c_str()));
    // The run clears the log before anything else: the mark shows that it started.
    SendMessageA(app.Control(bw::kIdLog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kBeforeTheRun));
    app.Click(bw::kIdStart);
    ASSERT_TRUE(bwdrive::WaitFor([&] { return app.Log().find(kBeforeTheRun) == std::string::npos; },
                                 kTimeout))
        << "the run did not start";
    if (during) during(app);
    ASSERT_TRUE(app.WaitIdle(kRunTimeout)) << app.Log();
    log_ = Trimmed(app.Log());
    std::string why;
    EXPECT_TRUE(Idle(app, why)) << why;
  }
  void Run() { Run(iso_); }

  // The next run in a new window, which sees the environment as it is now.
  void Restart() {
    if (!app_) return;
    app_->Close();
    if (!app_->WaitExit(kTimeout)) app_->Kill();
    app_.reset();
  }

  static std::function<void(App&)> CancelAfter(const std::string& text) {
    return [text](App& app) {
      ASSERT_TRUE(app.WaitLogContains(text, kTimeout)) << app.Log();
      app.Click(bw::kIdCancel);
    };
  }

  void ExpectEnd(const std::string& end) { EXPECT_TRUE(EndsWith(log_, end)) << log_; }
  void ExpectDone() {
    ExpectEnd("DONE!");
    EXPECT_TRUE(bwtest::FileExists(iso_)) << log_;
  }
  // Which parts of the earlier run are on disk: the worker, the Deployment Tools, WinPE.
  static void ExpectParts(bool worker, bool deploymentTools, bool winPE) {
    EXPECT_EQ(bwtest::FileExists(Worker()), worker);
    EXPECT_EQ(bwtest::FileExists(DeploymentToolsMarker()), deploymentTools);
    EXPECT_EQ(bwtest::FileExists(WinPEMarker()), winPE);
  }
  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  std::string iso_;
  std::unique_ptr<App> app_;
  std::string log_;
};

// Downloads ------------------------------------------------------------------------------

struct BadDownload {
  const char* name;
  const char* path;  // below the server's root; a full URL when it starts with "http"
  std::function<std::string()> end;
};

class BadProductDownload : public Faults, public ::testing::WithParamInterface<BadDownload> {};

TEST_P(BadProductDownload, FailsTheRunBeforeAnythingRunsAndKeepsTheKit) {
  const BadDownload& bad = GetParam();
  const std::string path = bad.path;
  env_.Set("BW_TEST_PRODUCT_URL", path.rfind("http", 0) == 0 ? path : base_ + path);
  DeleteFileA(Worker().c_str());
  Run();
  ExpectEnd(bad.end());
  EXPECT_FALSE(Logged("Executing ")) << log_;
  ExpectParts(false, true, true);
}

const BadDownload kBadDownloads[] = {
    {"RefusedPort", "http://127.0.0.1:1/Txb6Inst.exe",
     [] { return std::string("Cannot download the file. Error: 0x800C0008"); }},
    // The service takes an error page for the file; it carries no signature.
    {"NotFound", "standins/no-such-installer.exe",
     [] { return TrustLine(TRUST_E_SUBJECT_FORM_UNKNOWN); }},
    {"ServerError", "status/500/Txb6Inst.exe",
     [] { return TrustLine(TRUST_E_SUBJECT_FORM_UNKNOWN); }},
    {"CutOffMidBody", "cut/20000/standins/Txb6Inst.exe",
     [] { return TrustLine(TRUST_E_NOSIGNATURE); }},
    {"Unsigned", "bw_task_child.exe", [] { return TrustLine(TRUST_E_NOSIGNATURE); }},
    {"OneByteChanged", "flip/600/standins/Txb6Inst.exe",
     [] { return TrustLine(TRUST_E_BAD_DIGEST); }},
    {"StrangersSignature", "bw_task_child_stranger.exe",
     [] {
       return std::string(
           "The downloaded file is signed by \"Bootwright Test Signing\", not by "
           "\"Tessel Software\".");
     }},
};

INSTANTIATE_TEST_SUITE_P(Downloads, BadProductDownload, ::testing::ValuesIn(kBadDownloads),
                         [](const auto& info) { return std::string(info.param.name); });

// The product's own installer is no kit installer: a good signature by the wrong publisher.
TEST_F(Faults, KitInstallerSignedByTheProductsMakerIsRefused) {
  env_.Set("BW_TEST_ADK_URL", base_ + "standins/Txb6Inst.exe");
  DeleteFileA(DeploymentToolsMarker().c_str());
  Run();
  ExpectEnd(
      "The downloaded file is signed by \"Tessel Software\", not by \"Microsoft "
      "Corporation\".");
  EXPECT_FALSE(Logged("Executing ")) << log_;
  ExpectParts(true, false, true);
}

struct Download {
  const char* name;
  const char* variable;
  const char* file;
};

class CancelledDownload : public Faults, public ::testing::WithParamInterface<Download> {};

TEST_P(CancelledDownload, EndsTheRunAtOnceAndRunsNothing) {
  const Download& download = GetParam();
  env_.Set(download.variable, base_ + "slow/30000/standins/" + download.file);
  const std::string name = download.name;
  if (name == "Product") DeleteFileA(Worker().c_str());
  if (name == "Kit") DeleteFileA(DeploymentToolsMarker().c_str());
  if (name == "WinPE") DeleteFileA(WinPEMarker().c_str());
  Run(iso_, CancelAfter("Downloading "));
  ExpectEnd("Cancelled.");
  EXPECT_FALSE(Logged("Executing ")) << log_;
  ExpectParts(name != "Product", name != "Kit", name != "WinPE");
}

const Download kDownloads[] = {
    {"Product", "BW_TEST_PRODUCT_URL", "Txb6Inst.exe"},
    {"Kit", "BW_TEST_ADK_URL", "adksetup.exe"},
    {"WinPE", "BW_TEST_WINPE_URL", "adkwinpesetup.exe"},
};

INSTANTIATE_TEST_SUITE_P(Downloads, CancelledDownload, ::testing::ValuesIn(kDownloads),
                         [](const auto& info) { return std::string(info.param.name); });

// Installers -----------------------------------------------------------------------------

const char kAdkManual[] =
    "Cannot install ADK automatically. Try install it manually but don't change any options.";

TEST_F(Faults, InstallerRefusingTheSilentRunIsRunWithItsWindow) {
  env_.Set("BW_ADKSETUP_QUIET_EXIT", "2008");
  DeleteFileA(DeploymentToolsMarker().c_str());
  Run();
  EXPECT_TRUE(Logged(kAdkManual)) << log_;
  ExpectDone();
  EXPECT_TRUE(bwtest::FileExists(DeploymentToolsMarker()));
}

TEST_F(Faults, InstallerRefusingTwiceEndsTheRunWithItsCode) {
  env_.Set("BW_ADKSETUP_EXIT", "2008");
  DeleteFileA(DeploymentToolsMarker().c_str());
  Run();
  EXPECT_TRUE(Logged(kAdkManual)) << log_;
  ExpectEnd(ErrorLine(2008));
  EXPECT_FALSE(Logged("Creating the boot image")) << log_;
  ExpectParts(true, false, true);
}

TEST_F(Faults, InstallerFailingOtherwiseIsNotRetried) {
  env_.Set("BW_ADKSETUP_EXIT", "1603");
  DeleteFileA(DeploymentToolsMarker().c_str());
  Run();
  EXPECT_FALSE(Logged(kAdkManual)) << log_;
  ExpectEnd(ErrorLine(1603));
  ExpectParts(true, false, true);
}

// The installer's word is taken; the build script then misses the kit and says so, and the
// next run installs again.
TEST_F(Faults, InstallerThatSucceedsWithoutInstallingFailsTheBuild) {
  env_.Set("BW_ADKSETUP_NOFILES", "1");
  DeleteFileA(DeploymentToolsMarker().c_str());
  Run();
  EXPECT_TRUE(Logged("Creating the boot image....")) << log_;
  EXPECT_TRUE(Logged("\r\nERROR\r\n")) << log_;
  ExpectEnd(ErrorLine(1));
  EXPECT_FALSE(bwtest::FileExists(iso_));

  env_.Unset("BW_ADKSETUP_NOFILES");
  Restart();
  Run();
  EXPECT_TRUE(Logged("Windows Assessment and Deployment Kit (ADK) is missing.")) << log_;
  ExpectDone();
}

TEST_F(Faults, InstallerThatNeverEndsIsCancelled) {
  env_.Set("BW_ADKSETUP_DELAY_MS", "600000");
  DeleteFileA(DeploymentToolsMarker().c_str());
  Run(iso_, CancelAfter("Executing "));
  ExpectEnd("Cancelled.");
  EXPECT_FALSE(Logged("Creating the boot image")) << log_;
  ExpectParts(true, false, true);
}

// Worker ---------------------------------------------------------------------------------

std::string Bytes(const std::string& path) { return bwtest::ReadFileBytes(path); }

TEST_F(Faults, InstallLocationWithTrailingBackslashesIsCopiedFrom) {
  const std::string product = *out_ / "Product";
  ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(
      CopyFileA(Standin("TXBWorker.exe").c_str(), (product + "\\TXBWorker.exe").c_str(), FALSE));
  ASSERT_NO_FATAL_FAILURE(
      SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation", product + "\\\\"));
  ASSERT_NO_FATAL_FAILURE(
      StageWorker(Standin("TXBWorker-6.1.5.9.exe")));  // an older staged copy is replaced
  Run();
  ExpectDone();
  EXPECT_EQ(Bytes(Worker()), Bytes(Standin("TXBWorker.exe")));
}

TEST_F(Faults, InstallLocationThatIsTheWorkerFolderIsNotCopiedOntoItself) {
  std::string folder = WorkDir() + "\\TXB\\";
  CharUpperBuffA(folder.data(), static_cast<DWORD>(folder.size()));
  ASSERT_NO_FATAL_FAILURE(SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation", folder));
  Run();
  ExpectDone();
  EXPECT_EQ(Bytes(Worker()), Bytes(Standin("TXBWorker.exe")));
}

TEST_F(Faults, InstallLocationNamingAMissingFolderInstallsTheWorker) {
  ASSERT_NO_FATAL_FAILURE(
      SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation", *out_ / "Gone"));
  DeleteFileA(Worker().c_str());
  Run();
  EXPECT_TRUE(Logged("TXB Worker is missing.")) << log_;
  ExpectDone();
  EXPECT_TRUE(bwtest::FileExists(Worker()));
}

TEST_F(Faults, InstallLocationHoldingOnlyTheCompressedNameIsCopiedFrom) {
  const std::string product = *out_ / "Product";
  ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(
      CopyFileA(Standin("TXBWorker.exe").c_str(), (product + "\\TXBWorker.ex_").c_str(), FALSE));
  ASSERT_NO_FATAL_FAILURE(SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation", product));
  DeleteFileA(Worker().c_str());
  Run();
  EXPECT_FALSE(Logged("TXB Worker is missing.")) << log_;
  ExpectDone();
  EXPECT_EQ(Bytes(Worker()), Bytes(Standin("TXBWorker.exe")));
}

// A read-only worker in the product's folder gives a read-only staged copy; the next run's
// copy over it must still work. (Windows refuses to copy over a read-only file; Wine's
// CopyFileA does not, so here this case guards the outcome rather than the refusal.)
TEST_F(Faults, ReadOnlyStagedWorkerIsReplacedByTheInstalledOne) {
  const std::string product = *out_ / "Product";
  ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr)) << GetLastError();
  const std::string installed = product + "\\TXBWorker.exe";
  ASSERT_TRUE(CopyFileA(Standin("TXBWorker.exe").c_str(), installed.c_str(), FALSE));
  ASSERT_TRUE(SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_NO_FATAL_FAILURE(SetString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation", product));
  ASSERT_NO_FATAL_FAILURE(StageWorker(Standin("TXBWorker-6.1.5.9.exe")));
  ASSERT_TRUE(SetFileAttributesA(Worker().c_str(), FILE_ATTRIBUTE_READONLY));
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    DeleteFileA(iso_.c_str());
    Run();
    ExpectDone();
    EXPECT_EQ(Bytes(Worker()), Bytes(Standin("TXBWorker.exe")));
  }
  SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_NORMAL);
}

struct WorkerVersion {
  const char* name;
  const char* file;
  const char* tooOld;  // the version in the error line, or null when it passes
};

class StagedWorkerVersion : public Faults, public ::testing::WithParamInterface<WorkerVersion> {};

TEST_P(StagedWorkerVersion, DecidesWhetherTheBuildRuns) {
  const WorkerVersion& version = GetParam();
  ASSERT_NO_FATAL_FAILURE(StageWorker(Standin(version.file)));
  Run();
  if (!version.tooOld) {
    ExpectDone();
  } else {
    ExpectEnd(ErrorLine(ERROR_NOT_SUPPORTED,
                        std::string("TXB Worker is too old (") + version.tooOld + ")"));
    EXPECT_FALSE(Logged("Creating the boot image")) << log_;
  }
  EXPECT_EQ(Bytes(Worker()), Bytes(Standin(version.file))) << "the staged worker stays";
}

const WorkerVersion kWorkerVersions[] = {
    {"Older", "TXBWorker-6.1.5.9.exe", "6.1.5.9"},
    {"TwoDigitMinor", "TXBWorker-6.10.2.0.exe", nullptr},
    {"NoVersion", "TXBWorker-noversion.exe", "0.0.0.0"},
};

INSTANTIATE_TEST_SUITE_P(Worker, StagedWorkerVersion, ::testing::ValuesIn(kWorkerVersions),
                         [](const auto& info) { return std::string(info.param.name); });

// Working folder -------------------------------------------------------------------------

TEST_F(Faults, FileWhereTheWorkingFolderBelongsFailsTheRun) {
  const std::string workDir = WorkDir();
  const std::string away = workDir + ".away";
  bwtest::RemoveTree(away);
  ASSERT_TRUE(MoveFileA(workDir.c_str(), away.c_str())) << GetLastError();
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(workDir, "not a folder"));
  Run();
  const std::string log = log_;
  DeleteFileA(workDir.c_str());
  ASSERT_TRUE(MoveFileA(away.c_str(), workDir.c_str())) << GetLastError();
  EXPECT_TRUE(EndsWith(log, ". " + workDir)) << log;
  EXPECT_EQ(Lines(log).size(), 1u) << log;
  EXPECT_TRUE(bwtest::FileExists(Worker()));
}

// ISO path -------------------------------------------------------------------------------

TEST_F(Faults, IsoPathWithACharacterTheScriptCannotTakeIsRefused) {
  for (const char* bad : {"\"", "<", ">", "|", "*", "?", "%", "^", "\x01", "\t"}) {
    const std::string iso = *out_ / (std::string("Recovery") + bad + ".iso");
    SCOPED_TRACE(iso);
    Run(iso);
    EXPECT_EQ(log_, ErrorLine(ERROR_INVALID_NAME, iso));
  }
  EXPECT_TRUE(bwtest::FileExists(WinPEMarker()));
}

TEST_F(Faults, IsoPathWithBlanksParenthesesAmpersandAndBangWorks) {
  const std::string folder = *out_ / "Out (1) & co!";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
  iso_ = folder + "\\Txb & Boot!.iso";
  Run();
  EXPECT_TRUE(Logged(" ISO \"" + iso_ + "\" " + bwtest::kStandinMedium + " ...")) << log_;
  ExpectDone();
}

TEST_F(Faults, EmptyIsoPathStillRunsTheScriptWhichFails) {
  Run("");
  EXPECT_TRUE(Logged(" ISO \"\" " + bwtest::kStandinMedium + " ...")) << log_;
  EXPECT_TRUE(Logged("\r\nERROR\r\n")) << log_;
  ExpectParts(true, true, true);
}

// Build ----------------------------------------------------------------------------------

struct BuildStep {
  const char* name;
  const char* variable;
  const char* value;
  DWORD code;  // the script's exit code, as Wine's cmd passes it on
};

class FailingBuildStep : public Faults, public ::testing::WithParamInterface<BuildStep> {};

TEST_P(FailingBuildStep, EndsTheRunWithTheScriptsCode) {
  const BuildStep& step = GetParam();
  env_.Set(step.variable, step.value);
  Run();
  EXPECT_TRUE(Logged("\r\nERROR\r\n")) << log_;
  ExpectEnd(ErrorLine(step.code));
  EXPECT_FALSE(bwtest::FileExists(iso_));
  ExpectParts(true, true, true);
}

// The steps that the script runs through `call` end with 1 under Wine (see the script tests);
// Windows passes on the called script's own code.
const BuildStep kBuildSteps[] = {
    {"DandISetEnv", "BW_DANDISETENV_EXIT", "5", 1},
    {"copype", "BW_COPYPE_EXIT", "7", 1},
    {"Mount", "BW_DISM_MOUNT_EXIT", "0xC1420116", 0xC1420116},
    {"Locale", "BW_DISM_LOCALE_EXIT", "50", 50},
    {"Commit", "BW_DISM_COMMIT_EXIT", "-1052638953", 0xC1420117},
    {"MediaWriter", "BW_MAKEWINPEMEDIA_EXIT", "4", 1},
};

INSTANTIATE_TEST_SUITE_P(Build, FailingBuildStep, ::testing::ValuesIn(kBuildSteps),
                         [](const auto& info) { return std::string(info.param.name); });

// The first 65,535 bytes and the last 4,096, with the script's closing line, are logged in
// one entry; the run itself is not held up.
TEST_F(Faults, SixteenMegabytesOfBuildOutputShowTheirHeadAndTail) {
  env_.Set("BW_DISM_OUTPUT_BYTES", std::to_string(16 << 20));
  Run();
  ExpectDone();
  EXPECT_TRUE(Logged(" bytes of output left out ...\r\n")) << log_.substr(0, 2000);
  const std::string executed = bwtest::kStandinMedium + " ...";
  const size_t from = log_.find(executed);
  ASSERT_NE(from, std::string::npos);
  // The line breaks that end the Executing entry, the head, the count's line and the tail.
  EXPECT_LE(log_.size() - (from + executed.size()), 65535u + 4096u + 80u);
}

TEST_F(Faults, NulInTheBuildOutputShowsAsABlank) {
  env_.Set("BW_DISM_OUTPUT_NUL", "1");
  Run();
  EXPECT_TRUE(Logged("\r\nbefore after\r\n")) << log_;
  ExpectDone();
}

// Closing the window ---------------------------------------------------------------------

struct LongStep {
  const char* name;
  const char* waitFor;  // the log's text once the step runs
};

class ClosingDuring : public Faults, public ::testing::WithParamInterface<LongStep> {};

TEST_P(ClosingDuring, TheRunFinishesThenTheWindowCloses) {
  const std::string name = GetParam().name;
  if (name == "Download") {
    env_.Set("BW_TEST_PRODUCT_URL", base_ + "slow/1500/standins/Txb6Inst.exe");
    DeleteFileA(Worker().c_str());
  } else if (name == "Installer") {
    env_.Set("BW_ADKSETUP_DELAY_MS", "1500");
    DeleteFileA(DeploymentToolsMarker().c_str());
  } else {
    env_.Set("BW_DISM_DELAY_MS", "500");
  }
  app_ = std::make_unique<App>();
  std::string why;
  ASSERT_TRUE(StartIsoRun(*app_, WizardUnderTestPath(), iso_, why)) << why;
  ASSERT_TRUE(app_->WaitLogContains(GetParam().waitFor, kTimeout)) << app_->Log();
  app_->Close();
  ASSERT_TRUE(app_->WaitExit(kRunTimeout)) << "the program did not end after the run";
  EXPECT_EQ(app_->ExitCode(), 0u);
  EXPECT_TRUE(bwtest::FileExists(iso_));
  ExpectParts(true, true, true);
}

const LongStep kLongSteps[] = {
    {"Download", "Downloading "},
    {"Installer", "Installing Windows Assessment"},
    {"Build", "bwrs.bat"},
};

INSTANTIATE_TEST_SUITE_P(Window, ClosingDuring, ::testing::ValuesIn(kLongSteps),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
