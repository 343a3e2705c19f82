// The media build script, run the way the wizard runs it (process creation on the .bat with
// quoted arguments) under Wine's cmd, against the stand-in kit installed beside it. The script
// folder lies below a path with blanks and parentheses, as below "Program Files (x86)".
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/TestSupport.h"
#include "kit/KitFiles.h"

namespace {

using bwtest::Quote;

const char kPicture[] = "carried picture";
const char kStartup[] = "@echo off\r\nrem carried start-up script\r\n";
const char kWorker[] = "MZ carried worker";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string LastLine(const std::string& output) {
  std::vector<std::string> lines = Lines(output);
  while (!lines.empty() && lines.back().find_first_not_of(' ') == std::string::npos) {
    lines.pop_back();
  }
  return lines.empty() ? std::string() : lines.back();
}

class BuildScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"BW_DANDISETENV_EXIT", "BW_COPYPE_EXIT", "BW_COPYPE_IMAGE_EXTRA", "BW_DISM_MOUNT_EXIT",
          "BW_DISM_COMMIT_EXIT", "BW_DISM_DISCARD_EXIT", "BW_DISM_CLEANUP_EXIT",
          "BW_DISM_LOCALE_EXIT", "BW_MAKEWINPEMEDIA_EXIT", "BW_TAKEOWN_EXIT", "BW_UFD_DIR",
          "WinPERoot"}) {
      env_.Unset(name);
    }
    // For an x86 image the script takes timeout.exe and choice.exe from
    // %SystemRoot%\SysWow64, else system32. Wine resets SystemRoot in every new process, so
    // the host copies must lie in the prefix's own system32. SysWow64 stays empty, as on a
    // 32-bit Windows, so every run takes the second copy.
    ASSERT_NO_FATAL_FAILURE(bwtest::StageSystemTool("timeout.exe"));
    ASSERT_NO_FATAL_FAILURE(bwtest::StageSystemTool("choice.exe"));
    timeout_ = bwtest::ReadFileBytes(bwtest::SystemFolder() + "\\timeout.exe");
    choice_ = bwtest::ReadFileBytes(bwtest::SystemFolder() + "\\choice.exe");
    ASSERT_FALSE(timeout_.empty());
    ASSERT_FALSE(choice_.empty());

    ASSERT_TRUE(bw::ForceDirectories(dir_ + "\\TXB"));
    ASSERT_TRUE(CopyFileA(bwtest::SourcePath("resources/bwrs.bat").c_str(),
                          (dir_ + "\\bwrs.bat").c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(dir_ + "\\winpe.jpg", kPicture));
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(dir_ + "\\startnet.cmd", kStartup));
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(dir_ + "\\TXB\\TXBWorker.exe", kWorker));
    for (const auto& [installer, feature] :
         {std::pair<std::string, std::string>{"adksetup.exe", "DeploymentTools"},
          {"adkwinpesetup.exe", "WindowsPreinstallationEnvironment"}}) {
      auto result = bwtest::RunProcess(Quote(bwtest::StandinDir() + "\\" + installer) +
                                       " /features OptionId." + feature + " /installpath " +
                                       Quote(dir_ + "\\ADK") + " /q");
      ASSERT_EQ(result.exitCode, 0u) << installer << ": " << result.output;
    }
    ASSERT_TRUE(bw::ForceDirectories(scratch_ / "out (1)"));
    ASSERT_NO_FATAL_FAILURE(UseTemp(scratch_ / "tmp"));
    env_.Set("BW_JOURNAL", journal_);
  }

  void UseTemp(const std::string& temp) {
    ASSERT_TRUE(bw::ForceDirectories(temp));
    temp_ = temp;
    env_.Set("TEMP", temp);
    env_.Set("TMP", temp);
  }

  bwtest::ProcessResult RunScript(const std::string& kind, const std::string& target,
                                  const std::string& architecture = "x86") {
    DeleteFileA(journal_.c_str());
    return bwtest::RunProcess(Quote(dir_ + "\\bwrs.bat") + " " + kind + " " + Quote(target) + " " +
                              architecture);
  }

  std::vector<std::string> Journal() { return bwtest::ReadJournal(journal_); }

  std::string Build() const { return temp_ + "\\txbboot"; }
  std::string Mount() const { return Build() + "\\mount"; }
  std::string Wim() const { return Build() + "\\media\\sources\\boot.wim"; }

  // Every tool call of a complete run, the media writer's last; with `drivers`, the call that
  // adds them.
  std::vector<std::string> CompleteRun(const std::string& mediaCall,
                                       const std::string& architecture = "x86",
                                       const std::string& drivers = {}) const {
    const std::string system32 = Mount() + "\\Windows\\System32\\";
    std::vector<std::string> calls = {
        "DandISetEnv",
        "dism /Unmount-Image /MountDir:" + Quote(Mount()) + " /discard",
        "dism /Cleanup-Mountpoints",
        "copype " + architecture + " " + Quote(Build()),
        "dism /Mount-Image /ImageFile:" + Quote(Wim()) + " /index:1 /MountDir:" + Quote(Mount()),
        "takeown /f " + Quote(system32 + "winpe.jpg"),
        "takeown /f " + Quote(system32 + "startnet.cmd"),
        "dism /image:" + Quote(Mount()) + " /Set-SysLocale:pl-PL",
        "dism /Unmount-Image /MountDir:" + Quote(Mount()) + " /commit",
        mediaCall,
    };
    if (!drivers.empty()) {
      calls.insert(calls.end() - 2, "dism /image:" + Quote(Mount()) +
                                        " /Add-Driver /Driver:" + Quote(drivers) + " /Recurse");
    }
    return calls;
  }

  standin::Archive Image() {
    standin::Archive image;
    EXPECT_TRUE(standin::ParseArchive(bwtest::ReadFileBytes(Wim()), image)) << Wim();
    return image;
  }

  // What went into the image: the carried files, the worker, the console tools, the locale.
  void ExpectFilledImage() {
    standin::Archive image = Image();
    EXPECT_EQ(image.settings["locale"], "pl-PL");
    const std::pair<const char*, std::string> expected[] = {
        {"winpe.jpg", kPicture},   {"startnet.cmd", kStartup}, {"TXBWorker.exe", kWorker},
        {"timeout.exe", timeout_}, {"choice.exe", choice_},
    };
    for (const auto& [name, bytes] : expected) {
      const std::string* found = image.Find(std::string("Windows\\System32\\") + name);
      ASSERT_NE(found, nullptr) << name;
      EXPECT_TRUE(*found == bytes) << name << " differs";
    }
  }

  bwtest::ScratchDir scratch_{"bwrs"};
  std::string dir_ = scratch_ / "Program Files (x86)\\Tessel Software\\Bootwright";
  std::string journal_ = scratch_ / "journal.txt";
  std::string iso_ = scratch_ / "out (1)\\Txb Boot.iso";
  std::string temp_;
  std::string timeout_, choice_;
  bwtest::ScopedEnv env_;
};

TEST_F(BuildScriptTest, IsoRunCallsTheKitInOrderAndFillsTheImage) {
  auto result = RunScript("ISO", iso_);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(LastLine(result.output), "DONE!") << result.output;
  EXPECT_EQ(Journal(), CompleteRun("MakeWinPEMedia /ISO /F " + Quote(Build()) + " " + Quote(iso_)));
  ExpectFilledImage();
  // SysWow64 holds neither tool here, so each first copy failed and the copy from system32
  // carried the step, as on a 32-bit Windows. (A 32-bit build of this test staged its tools
  // through system32 into SysWow64.)
  if (sizeof(void*) == 8) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_FALSE(bwtest::FileExists(std::string(windows) + "\\SysWow64\\timeout.exe"));
    EXPECT_FALSE(bwtest::FileExists(std::string(windows) + "\\SysWow64\\choice.exe"));
  }

  standin::Archive medium;
  ASSERT_TRUE(standin::ParseArchive(bwtest::ReadFileBytes(iso_), medium));
  ASSERT_NE(medium.Find("sources\\boot.wim"), nullptr);
  EXPECT_TRUE(*medium.Find("sources\\boot.wim") == bwtest::ReadFileBytes(Wim()));
}

// A user profile such as "C:\Users\Ann Lee" puts a blank into the build folder's path.
TEST_F(BuildScriptTest, UsbRunWithBlankInTempFolder) {
  ASSERT_NO_FATAL_FAILURE(UseTemp(scratch_ / "Ann Lee\\Temp"));
  const std::string usb = scratch_ / "usb";
  ASSERT_TRUE(bw::ForceDirectories(usb));
  env_.Set("BW_UFD_DIR", usb);

  auto result = RunScript("USB", "E:");
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(LastLine(result.output), "DONE!") << result.output;
  EXPECT_EQ(Journal(), CompleteRun("MakeWinPEMedia /UFD /F " + Quote(Build()) + " \"E:\""));
  ExpectFilledImage();
  EXPECT_TRUE(bwtest::ReadFileBytes(usb + "\\sources\\boot.wim") == bwtest::ReadFileBytes(Wim()));
  EXPECT_FALSE(bwtest::FileExists(iso_));
}

TEST_F(BuildScriptTest, LowerCaseUsbTakesTheIsoBranch) {
  auto result = RunScript("usb", iso_);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  ASSERT_FALSE(Journal().empty());
  EXPECT_EQ(Journal().back(), "MakeWinPEMedia /ISO /F " + Quote(Build()) + " " + Quote(iso_));
  EXPECT_TRUE(bwtest::FileExists(iso_));
}

TEST_F(BuildScriptTest, UnguardedFailuresDoNotStopTheRun) {
  env_.Set("BW_DISM_DISCARD_EXIT", "3");
  env_.Set("BW_DISM_CLEANUP_EXIT", "4");
  env_.Set("BW_TAKEOWN_EXIT", "5");
  DeleteFileA((dir_ + "\\winpe.jpg").c_str());  // the picture's copy fails

  auto result = RunScript("ISO", iso_);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(LastLine(result.output), "DONE!") << result.output;
  standin::Archive image = Image();
  EXPECT_EQ(image.Find("Windows\\System32\\winpe.jpg"), nullptr) << "deleted, none copied";
  ASSERT_NE(image.Find("Windows\\System32\\startnet.cmd"), nullptr);
  EXPECT_EQ(*image.Find("Windows\\System32\\startnet.cmd"), kStartup);
}

TEST_F(BuildScriptTest, ImageLeftMountedIsDiscardedByTheNextRun) {
  env_.Set("BW_DISM_COMMIT_EXIT", "0xC1420117");
  auto result = RunScript("ISO", iso_);
  EXPECT_EQ(result.exitCode, 0xC1420117u) << result.output;
  EXPECT_EQ(LastLine(result.output), "ERROR");
  ASSERT_TRUE(bwtest::FileExists(Mount() + "\\Windows\\System32\\TXBWorker.exe")) << "mounted";

  env_.Unset("BW_DISM_COMMIT_EXIT");
  result = RunScript("ISO", iso_);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(LastLine(result.output), "DONE!") << result.output;
  EXPECT_EQ(Journal(), CompleteRun("MakeWinPEMedia /ISO /F " + Quote(Build()) + " " + Quote(iso_)));
  ExpectFilledImage();
}

TEST_F(BuildScriptTest, DriversOfTheImagesArchitectureGoInBeforeTheCommit) {
  const std::string drivers = dir_ + "\\Drivers";
  ASSERT_TRUE(bw::ForceDirectories(drivers + "\\amd64\\net\\e1d"));
  ASSERT_TRUE(bw::ForceDirectories(drivers + "\\x86\\storage"));
  ASSERT_NO_FATAL_FAILURE(
      bwtest::WriteFileBytes(drivers + "\\amd64\\net\\e1d\\e1d.inf", "amd64 network"));
  ASSERT_NO_FATAL_FAILURE(
      bwtest::WriteFileBytes(drivers + "\\x86\\storage\\iaStor.INF", "x86 storage"));
  const std::string media = "MakeWinPEMedia /ISO /F " + Quote(Build()) + " " + Quote(iso_);
  for (const auto& [architecture, inf, other] :
       {std::tuple<std::string, std::string, std::string>{"amd64", "e1d.inf", "iaStor.INF"},
        {"x86", "iaStor.INF", "e1d.inf"}}) {
    SCOPED_TRACE(architecture);
    auto result = RunScript("ISO", iso_, architecture);
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_EQ(LastLine(result.output), "DONE!") << result.output;
    EXPECT_EQ(Journal(), CompleteRun(media, architecture, drivers + "\\" + architecture));
    standin::Archive image = Image();
    EXPECT_NE(image.Find("Windows\\INF\\" + inf), nullptr);
    EXPECT_EQ(image.Find("Windows\\INF\\" + other), nullptr);
  }
}

// No .inf for the image's architecture (only look-alikes, and the other architecture's): the
// run is the one without drivers, call for call.
TEST_F(BuildScriptTest, NoDriverPackageForTheArchitectureAddsNothing) {
  const std::string drivers = dir_ + "\\Drivers";
  ASSERT_TRUE(bw::ForceDirectories(drivers + "\\x86\\docs"));
  ASSERT_TRUE(bw::ForceDirectories(drivers + "\\amd64"));
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(drivers + "\\x86\\docs\\readme.txt", ""));
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(drivers + "\\x86\\docs\\setup.info", ""));
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(drivers + "\\amd64\\e1d.inf", ""));
  auto result = RunScript("ISO", iso_);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(LastLine(result.output), "DONE!") << result.output;
  EXPECT_EQ(Journal(), CompleteRun("MakeWinPEMedia /ISO /F " + Quote(Build()) + " " + Quote(iso_)));
}

// Which folder's console tools reach the image, per architecture: an x86 image takes them
// from SysWow64, else system32; an amd64 one from system32 only. Wine sets SystemRoot anew
// in every process, so this copy of the script reads a stand-in Windows folder instead. Each
// case fills one folder only: Wine's cmd runs the right side of `a || b` even after `a`
// succeeded (Windows does not), and that side then fails here, leaving what `a` copied but
// ending the run before the choice copies. A failing locale step stops every other run with
// the image mounted, to be looked into.
struct ToolSource {
  const char *arch, *filled, *expected;  // expected: nullptr when no tool reaches the image
};

void PrintTo(const ToolSource& c, std::ostream* out) { *out << c.arch << " " << c.filled; }

class ToolSourceTest : public BuildScriptTest, public ::testing::WithParamInterface<ToolSource> {};

TEST_P(ToolSourceTest, ImageGetsTheToolsOfItsArchitecture) {
  const ToolSource& c = GetParam();
  const std::string windows = scratch_ / "Windows";
  std::string script = bwtest::ReadFileBytes(dir_ + "\\bwrs.bat");
  for (size_t at; (at = script.find("%SystemRoot%")) != std::string::npos;) {
    script.replace(at, 12, "%BW_WINDOWS%");
  }
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(dir_ + "\\bwrs.bat", script));
  env_.Set("BW_WINDOWS", windows);
  env_.Set("BW_DISM_LOCALE_EXIT", "50");
  ASSERT_TRUE(bw::ForceDirectories(windows + "\\" + c.filled));
  for (const std::string tool : {"timeout.exe", "choice.exe"}) {
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(windows + "\\" + c.filled + "\\" + tool,
                                                   tool + " from " + c.filled));
  }

  auto result = RunScript("ISO", iso_, c.arch);
  EXPECT_EQ(LastLine(result.output), "ERROR") << result.output;
  const bool endsEarly = c.expected && std::string(c.expected) != "system32";  // under Wine
  for (const std::string tool : {"timeout.exe", "choice.exe"}) {
    if (endsEarly && tool == "choice.exe") break;
    const std::string copied = Mount() + "\\Windows\\System32\\" + tool;
    EXPECT_EQ(bwtest::FileExists(copied) ? bwtest::ReadFileBytes(copied) : "none",
              c.expected ? tool + " from " + c.expected : "none");
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, ToolSourceTest,
                         ::testing::Values(ToolSource{"x86", "SysWow64", "SysWow64"},
                                           ToolSource{"x86", "system32", "system32"},
                                           ToolSource{"x86", "Sysnative", nullptr},
                                           ToolSource{"amd64", "Sysnative", nullptr},
                                           ToolSource{"amd64", "system32", "system32"},
                                           ToolSource{"amd64", "SysWow64", nullptr}),
                         [](const auto& info) {
                           return std::string(info.param.arch) + "_" + info.param.filled;
                         });

// Each guarded step, made to fail: the run ends there with "ERROR" and the step's own code.
struct GuardedStep {
  const char* name;
  const char* variable;  // steering variable and its value, if the step fails that way
  const char* value;
  DWORD exitCode;
  const char* lastCall;  // the journal's last entry starts with this
};

// Wine's cmd gives errorlevel 1 after `call` of a failing script, whatever its code; Windows
// keeps the code. DandISetEnv, copype and MakeWinPEMedia are the steps run with `call`.
const GuardedStep kGuardedSteps[] = {
    {"DandISetEnv", "BW_DANDISETENV_EXIT", "5", 1, "DandISetEnv"},
    {"copype", "BW_COPYPE_EXIT", "7", 1, "copype"},
    {"Mount", "BW_DISM_MOUNT_EXIT", "0xC1420116", 0xC1420116, "dism /Mount-Image"},
    {"StartupScriptCopy", nullptr, nullptr, 1, "takeown /f"},
    {"WorkerCopy", nullptr, nullptr, 1, "takeown /f"},
    {"TimeoutCopies", nullptr, nullptr, 1, "takeown /f"},
    {"ChoiceCopies", nullptr, nullptr, 1, "takeown /f"},
    {"Locale", "BW_DISM_LOCALE_EXIT", "50", 50, "dism /image:"},
    {"Drivers", "BW_DISM_DRIVER_EXIT", "0x800F0247", 0x800F0247, "dism /image:"},
    {"Commit", "BW_DISM_COMMIT_EXIT", "-1052638953", 0xC1420117, "dism /Unmount-Image"},
    {"MediaWriter", "BW_MAKEWINPEMEDIA_EXIT", "4", 1, "MakeWinPEMedia"},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const GuardedStep& step, std::ostream* out) { *out << step.name; }

class GuardedStepTest : public BuildScriptTest,
                        public ::testing::WithParamInterface<GuardedStep> {};

TEST_P(GuardedStepTest, FailureEndsTheRunWithErrorAndTheStepsCode) {
  const GuardedStep& step = GetParam();
  const std::string name = step.name;
  if (step.variable) env_.Set(step.variable, step.value);
  if (name == "StartupScriptCopy") DeleteFileA((dir_ + "\\startnet.cmd").c_str());
  if (name == "WorkerCopy") DeleteFileA((dir_ + "\\TXB\\TXBWorker.exe").c_str());
  if (name == "TimeoutCopies" || name == "ChoiceCopies") {
    // The host's copy stays where it is (other tests use it); a folder of the tool's name in
    // the image blocks the copy from system32, and SysWow64 has none, so both copies fail.
    const std::string extra = scratch_ / "extra";
    const std::string tool = name == "TimeoutCopies" ? "timeout.exe" : "choice.exe";
    ASSERT_TRUE(bw::ForceDirectories(extra + "\\Windows\\System32\\" + tool));
    env_.Set("BW_COPYPE_IMAGE_EXTRA", extra);
  }
  if (name == "Drivers") {
    ASSERT_TRUE(bw::ForceDirectories(dir_ + "\\Drivers\\x86"));
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(dir_ + "\\Drivers\\x86\\a.inf", ""));
  }

  auto result = RunScript("ISO", iso_);
  EXPECT_EQ(result.exitCode, step.exitCode) << result.output;
  EXPECT_EQ(LastLine(result.output), "ERROR") << result.output;
  std::vector<std::string> calls = Journal();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().rfind(step.lastCall, 0), 0u) << calls.back();
  EXPECT_EQ(calls.back().find("/Add-Driver") != std::string::npos, name == "Drivers");
  EXPECT_FALSE(bwtest::FileExists(iso_));
  if (name == "WorkerCopy") {
    EXPECT_TRUE(bwtest::FileExists(Mount() + "\\Windows\\System32\\startnet.cmd"))
        << "the image stays mounted";
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, GuardedStepTest, ::testing::ValuesIn(kGuardedSteps),
                         [](const auto& info) { return std::string(info.param.name); });

// The scripts are carried byte for byte: plain ASCII, every line ended by CR LF.
TEST(BuildScriptFileTest, CarriedScriptsAreAsciiWithCrLfLineEnds) {
  for (const char* file : {"resources/bwrs.bat", "resources/startnet.cmd"}) {
    SCOPED_TRACE(file);
    const std::string bytes = bwtest::ReadFileBytes(bwtest::SourcePath(file));
    ASSERT_GE(bytes.size(), 2u);
    for (size_t i = 0; i < bytes.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(bytes[i]);
      ASSERT_TRUE(c == '\r' || c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F))
          << "byte " << i << " is " << int(c);
      if (c == '\r') {
        ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "lone CR at " << i;
      }
      if (c == '\n') {
        ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "lone LF at " << i;
      }
    }
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  }
}

}  // namespace
