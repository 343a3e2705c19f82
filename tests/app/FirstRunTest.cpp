// A first run on a bare machine, through the window: everything missing is downloaded from
// the local server and installed, then the medium is built; the second run only builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppDriver.h"
#include "Machine.h"
#include "ServedMachine.h"
#include "common/TestSupport.h"
#include "pipeline/MediaRun.h"

namespace {

using bwdrive::App;
using namespace machine;

// Each entry of the log is followed by one empty line.
void Entry(std::vector<std::string>& lines, const std::string& text) {
  lines.push_back(text);
  lines.push_back("");
}

// A child's output ends with its own line break, so an empty line more follows it.
void Output(std::vector<std::string>& lines, const std::string& text) {
  Entry(lines, text);
  lines.push_back("");
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

// Nothing of an earlier run is left: no working folder at all.
class FirstRun : public ServedMachine {
 protected:
  void SetUp() override {
    ServedMachine::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    bwtest::RemoveTree(WorkDir());
    ASSERT_FALSE(bwtest::FolderExists(WorkDir()));
  }
};

TEST_F(FirstRun, ABareMachineGetsEverythingAndTheNextRunOnlyBuilds) {
  env_.Set("BW_ADKWINPESETUP_QUIET_EXIT", "2008");
  const std::string iso = *out_ / "First Run.iso";
  const std::string workDir = WorkDir();
  App app;
  std::string why;
  ASSERT_TRUE(StartIsoRun(app, WizardUnderTestPath(), iso, why)) << why;
  ASSERT_TRUE(app.WaitLogContains("DONE!", kRunTimeout)) << app.Log();
  ASSERT_TRUE(app.WaitIdle(kTimeout)) << app.Log();
  EXPECT_TRUE(Idle(app, why)) << why;

  // The downloaded installers run from their copies in the working folder.
  const std::vector<std::string> lines = Lines(app.Log());
  const std::string product = workDir + "\\Downloads\\Txb6Inst.exe";
  const std::string adk = workDir + "\\Downloads\\adksetup.exe";
  const std::string winpe = workDir + "\\Downloads\\adkwinpesetup.exe";

  const std::string kitCommand =
      "\" /features OptionId.DeploymentTools /installpath \"" + workDir + "\\ADK\"";
  const std::string winpeCommand =
      "\" /features OptionId.WindowsPreinstallationEnvironment /installpath \"" + workDir +
      "\\ADK\"";
  // Under WOW64 the script runs in the native interpreter.
  std::string build = "\"" + workDir + "\\bwrs.bat\" ISO \"" + iso + "\" " + bwtest::kStandinMedium;
  if (bw::RealSystem().IsWow64()) {
    build = "\"" + bw::RealSystem().WindowsDirectory() + "\\Sysnative\\cmd.exe\" /d /c \"" + build +
            "\"";
  }
  build = "Executing " + build + " ...";
  std::vector<std::string> expected;
  Entry(expected, "TXB Worker is missing.");
  Entry(expected, "Downloading " + base_ + "standins/Txb6Inst.exe ...");
  Entry(expected, "Installing Tessel Backup System - Worker (TXB Worker)...");
  Entry(expected, "Executing \"" + product +
                      "\" /SP- /verysilent /noicons /LOG /COMPONENTS=\"TXB_Worker\" /dir=\"" +
                      workDir + "\\TXB\" ...");
  Entry(expected, "Windows Assessment and Deployment Kit (ADK) is missing.");
  Entry(expected, "Downloading " + base_ + "standins/adksetup.exe ...");
  Entry(expected, "Installing Windows Assessment and Deployment Kit (ADK)...");
  Entry(expected, "Executing \"" + adk + kitCommand + " /q ...");
  Entry(expected, "Windows Preinstallation Environment (WinPE) is missing.");
  Entry(expected, "Downloading " + base_ + "standins/adkwinpesetup.exe ...");
  Entry(expected,
        "Installing Windows Preinstallation Environment (WinPE). Up to 5 GB must be downloaded. "
        "It may take a few minutes...");
  Entry(expected, "Executing \"" + winpe + winpeCommand + " /q ...");
  // The installer's own words on its way out.
  Output(expected, "adkwinpesetup: silent install refused (BW_ADKWINPESETUP_QUIET_EXIT)");
  Entry(expected,
        "Cannot install WinPE automatically. Try install it manually but don't change "
        "any options.");
  Entry(expected, "Executing \"" + winpe + winpeCommand + " ...");
  Output(expected, "Installing OptionId.WindowsPreinstallationEnvironment into " + workDir +
                       "\\ADK\\Assessment and Deployment Kit");
  Entry(expected, "Creating the boot image....");
  Entry(expected, build);
  ASSERT_GE(lines.size(), expected.size());
  const std::vector<std::string> head(lines.begin(), lines.begin() + expected.size());
  EXPECT_EQ(Joined(head), Joined(expected));
  // Then the script's output alone, ending with its own last line.
  std::vector<std::string> rest(lines.begin() + expected.size(), lines.end());
  while (!rest.empty() && rest.back().empty()) rest.pop_back();
  ASSERT_FALSE(rest.empty());
  EXPECT_EQ(rest.back(), "DONE!") << Joined(rest);
  for (const auto& line : rest) {
    EXPECT_EQ(line.find("Executing "), std::string::npos) << line;
    EXPECT_EQ(line.find("Downloading "), std::string::npos) << line;
  }
  EXPECT_TRUE(bwtest::FileExists(iso));
  EXPECT_TRUE(bwtest::FileExists(Worker()));
  EXPECT_TRUE(bwtest::FileExists(DeploymentToolsMarker()));
  EXPECT_TRUE(bwtest::FileExists(WinPEMarker()));

  // Everything is in place now: the same window's next run only builds.
  DeleteFileA(iso.c_str());
  app.Click(bw::kIdStart);
  ASSERT_TRUE(bwdrive::WaitFor([&] { return !app.Enabled(bw::kIdStart); }, kTimeout));
  ASSERT_TRUE(app.WaitIdle(kRunTimeout)) << app.Log();
  const std::vector<std::string> second = Lines(app.Log());
  ASSERT_GE(second.size(), 4u) << app.Log();
  EXPECT_EQ(second[0], "Creating the boot image....");
  EXPECT_EQ(second[1], "");
  EXPECT_EQ(second[2], build);
  EXPECT_EQ(second[3], "");
  EXPECT_NE(app.Log().find("DONE!"), std::string::npos) << app.Log();
  EXPECT_EQ(app.Log().find("Downloading"), std::string::npos) << app.Log();
  EXPECT_EQ(app.Log().find("Installing"), std::string::npos) << app.Log();
  EXPECT_TRUE(bwtest::FileExists(iso));
  app.Close();
  EXPECT_TRUE(app.WaitExit(kTimeout));
}

}  // namespace
