#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "common/TestSupport.h"
#include "pipeline/HostDrivers.h"
#include "pipeline/MediaRun.h"
#include "support/Errors.h"
#include "support/Files.h"
#include "support/Handles.h"

using namespace bw;
using bwtest::FileExists;
using bwtest::FolderExists;
using bwtest::ReadFileBytes;
using bwtest::WriteFileBytes;

namespace {

const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessel Backup System_is1";
const std::string kProductUrl = "http://" BOOTWRIGHT_UPDATE_HOST "/download/Txb6Inst.exe";
const std::string kAdkUrl =
    "https://download.microsoft.com/download/8/6/c/86c218f3-4349-4aa5-beba-d05e48bbc286/adk/"
    "adksetup.exe";
const std::string kWinPEUrl =
    "https://download.microsoft.com/download/E/F/A/EFA17CF0-7140-4E92-AC0A-D89366EBD79E/"
    "adkwinpeaddons/adkwinpesetup.exe";
const std::string kIso = " ISO \"C:\\TXBRecovery.iso\" " + bwtest::kStandinMedium;
const char kTemplateCopy[] = R"(xcopy /herky "%WORKINGDIR%\%TEMPL%" "%DEST%\" >NUL)";
const char kTemplateCopyFixed[] = R"(xcopy /herky "%WORKINGDIR%\%TEMPL%\*.*" "%DEST%\*.*" >NUL)";

std::string Maker() { return GetSpecialFolder(CSIDL_PROGRAM_FILES) + "\\Tessel Software"; }
std::string WorkDir() { return Maker() + "\\Bootwright"; }
std::string WorkerDir() { return WorkDir() + "\\TXB"; }
std::string Worker() { return WorkerDir() + "\\TXBWorker.exe"; }
std::string Kit() { return WorkDir() + "\\ADK\\Assessment and Deployment Kit"; }
std::string DandISetEnv() { return Kit() + "\\Deployment Tools\\DandISetEnv.bat"; }
std::string Copype() { return Kit() + "\\Windows Preinstallation Environment\\copype.cmd"; }
std::string MediaWriter() {
  return Kit() + "\\Windows Preinstallation Environment\\MakeWinPEMedia.cmd";
}
std::string Standin(const std::string& name) { return bwtest::StandinDir() + "\\" + name; }

// Creates the folders above a file, then the file. Like CopyInto, it asserts: call it in
// ASSERT_NO_FATAL_FAILURE where later steps need the file.
void PutFile(const std::string& path, const std::string& bytes = "x") {
  ASSERT_TRUE(bw::ForceDirectories(path.substr(0, path.rfind('\\')))) << path;
  ASSERT_NO_FATAL_FAILURE(WriteFileBytes(path, bytes));
}

void CopyInto(const std::string& source, const std::string& target) {
  ASSERT_NO_FATAL_FAILURE(PutFile(target));
  ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source << ": " << GetLastError();
}

// What follows `switch` in a command line, up to the next double quote.
std::string QuotedArgument(const std::string& command, const std::string& switchText) {
  size_t at = command.find(switchText);
  if (at == std::string::npos) return {};
  at += switchText.size();
  return command.substr(at, command.find('"', at) - at);
}

// Binary files are compared without printing them.
::testing::AssertionResult SameBytes(const std::string& path, const std::string& expected) {
  const std::string actual = ReadFileBytes(path);
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << path << " has " << actual.size() << " bytes, expected "
                                       << expected.size() << "; they differ from byte " << at;
}

std::string ErrorLine(DWORD code, const std::string& details = {}) {
  return ComposeErrorMessage(code, {details});
}

class FakeSystem : public SystemProbe {
 public:
  WindowsVersion version{2, 6, 1};
  std::string windows = "C:\\windows";
  bool heldElsewhere = false;
  mutable int lockTakes = 0;
  // A mutex of its own, so that the test never meets a run of the same prefix.
  UniqueMutexHold TakeRunLock() const override {
    ++lockTakes;
    if (heldElsewhere) return {};
    return UniqueMutexHold(CreateMutexA(nullptr, TRUE, nullptr));
  }
  bool wow64 = false;
  WORD native = IMAGE_FILE_MACHINE_AMD64;
  DWORD build = 19045;
  WindowsVersion Version() const override { return version; }
  std::string WindowsDirectory() const override { return windows; }
  bool IsWow64() const override { return wow64; }
  WORD NativeMachine() const override { return native; }
  DWORD BuildNumber() const override { return build; }
};

// The window as the run sees it. Every call that matters lands in one ordered transcript;
// downloads and children are played by scripts that act like the real installers.
class FakeHost : public RunHost {
 public:
  std::vector<std::string> events;
  TaskFields fields;
  int tag = 0;
  bool usb = false;
  std::string driveText = "E:";
  char driveLetter = 'E';
  std::string isoText = "C:\\TXBRecovery.iso";
  int imageType = bwtest::kStandinMedium == "amd64" ? 0 : 1;
  bool hostDrivers = true;
  bool answer = true;
  // Exit codes per kind of child ("worker", "adk", "winpe", "build"), played in order; 0 when
  // none is left. -1 stands for a press on Cancel.
  std::map<std::string, std::deque<long>> exitCodes;
  bool installersWork = true;
  std::string workerStandin = Standin("TXBWorker.exe");
  std::function<void(const std::string&)> onDownload;
  // Each request to save the log: the folder, and how many events came before it.
  std::vector<std::pair<std::string, size_t>> saves;

  void AddLog(const std::string& text) override { events.push_back("log: " + text); }
  void DownloadFile(const std::string& url, int weight, const std::string& publisher) override {
    events.push_back("download " + std::to_string(weight) + ": " + url + " by " + publisher);
    if (onDownload) onDownload(url);
    fields.DownloadedFile = "C:\\cache\\" + url.substr(url.rfind('/') + 1);
  }
  void RunCommand(const std::string& commandLine, int weight, WORD showWindow) override {
    events.push_back("run " + std::to_string(weight) + "/" + std::to_string(showWindow) + ": " +
                     commandLine);
    const std::string kind = KindOf(commandLine);
    long code = 0;
    if (!exitCodes[kind].empty()) {
      code = exitCodes[kind].front();
      exitCodes[kind].pop_front();
    }
    if (code == -1) throw EAbort("Cancelled.");
    if (code != 0) throw EOSError(ErrorLine(static_cast<DWORD>(code)), static_cast<DWORD>(code));
    if (installersWork) Install(kind, commandLine);
  }
  void Unlock() override { events.push_back("unlock"); }
  TaskFields& Fields() override { return fields; }
  int StartTag() override { return tag; }
  bool UsbSelected() override { return usb; }
  bool IsoSelected() override { return !usb; }
  std::string UsbDriveText() override { return driveText; }
  char UsbDriveLetter() override { return driveLetter; }
  std::string IsoFileText() override { return isoText; }
  int ImageTypeIndex() override { return imageType; }
  bool HostDriversWanted() override { return hostDrivers; }
  bool ConfirmReformat(const std::string& text) override {
    events.push_back("confirm: " + text);
    return answer;
  }
  void SetStartEnabled(bool on) override { events.push_back(std::string("start ") + Onoff(on)); }
  void SetCancelEnabled(bool on) override { events.push_back(std::string("cancel ") + Onoff(on)); }
  void SetOptionsEnabled(bool on) override {
    events.push_back(std::string("options ") + Onoff(on));
  }
  void ClearLog() override { events.push_back("clear log"); }
  void ResetProgress() override { events.push_back("progress to min"); }
  void SaveRunLog(const std::string& folder) override { saves.push_back({folder, events.size()}); }

  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> picked;
    for (const auto& e : events) {
      if (e.rfind(prefix, 0) == 0) picked.push_back(e);
    }
    return picked;
  }

 private:
  static const char* Onoff(bool on) { return on ? "on" : "off"; }
  static std::string KindOf(const std::string& command) {
    if (command.find("/COMPONENTS=") != std::string::npos) return "worker";
    if (command.find("/export-driver") != std::string::npos) return "pnputil";
    if (command.find("OptionId.DeploymentTools") != std::string::npos) return "adk";
    if (command.find("OptionId.WindowsPreinstallationEnvironment") != std::string::npos) {
      return "winpe";
    }
    return "build";
  }
  void Install(const std::string& kind, const std::string& command) {
    if (kind == "worker") {
      CopyInto(workerStandin, QuotedArgument(command, "/dir=\"") + "\\TXBWorker.exe");
    } else if (kind == "adk") {
      PutFile(QuotedArgument(command, "/installpath \"") +
              "\\Assessment and Deployment Kit\\Deployment Tools\\DandISetEnv.bat");
    } else if (kind == "winpe") {
      const std::string pe = QuotedArgument(command, "/installpath \"") +
                             "\\Assessment and Deployment Kit\\Windows Preinstallation Environment";
      PutFile(pe + "\\copype.cmd");
      PutFile(pe + "\\MakeWinPEMedia.cmd", std::string("@echo off\n") + kTemplateCopy + "\n");
    }
  }
};

const std::vector<std::string> kBusy = {"start off", "cancel on", "options off", "clear log"};
const std::vector<std::string> kIdle = {"progress to min", "start on", "cancel off", "options on"};

class MediaRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clean();
    host.fields.CancelRequested = true;
    host.fields.TaskHandle = reinterpret_cast<HANDLE>(0x1234);
  }
  void TearDown() override { Clean(); }
  static void Clean() {
    bwtest::RemoveTree(Maker());
    DeleteUninstallKeys();
  }
  static void DeleteUninstallKeys() {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, view, 0);
    }
  }

  bool HaveStandins() {
    for (const char* name : {"TXBWorker.exe", "TXBWorker-6.1.5.9.exe", "TXBWorker-6.10.2.0.exe",
                             "TXBWorker-10.0.0.0.exe", "TXBWorker-noversion.exe"}) {
      if (!FileExists(Standin(name))) return false;
    }
    return true;
  }
  void SetInstallLocation(const std::string& location, REGSAM view = 0) {
    UniqueKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0,
                              KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "InstallLocation", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(location.c_str()),
                             static_cast<DWORD>(location.size() + 1)),
              ERROR_SUCCESS);
  }
  // Worker staged and both kit parts installed, as an earlier run leaves them.
  void Prepared(const std::string& worker = "TXBWorker.exe") {
    ASSERT_NO_FATAL_FAILURE(CopyInto(Standin(worker), Worker()));
    ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
    ASSERT_NO_FATAL_FAILURE(PutFile(Copype()));
  }
  void Run() { bStartClick(host, system); }

  // The run went from busy to idle and logged this, in this order, between the two.
  void ExpectRun(const std::vector<std::string>& work) {
    std::vector<std::string> expected = kBusy;
    expected.insert(expected.end(), work.begin(), work.end());
    expected.insert(expected.end(), kIdle.begin(), kIdle.end());
    EXPECT_EQ(host.events, expected);
    EXPECT_FALSE(host.fields.CancelRequested);
    EXPECT_EQ(host.fields.TaskHandle, nullptr);
  }
  // A run that failed with this line; the window is idle again.
  void ExpectFailure(const std::string& line) {
    ASSERT_GE(host.events.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(host.events.begin(), host.events.begin() + 4), kBusy);
    EXPECT_EQ(std::vector<std::string>(host.events.end() - 4, host.events.end()), kIdle);
    EXPECT_EQ(host.events[host.events.size() - 5], "log: " + line);
  }
  std::string Build(const std::string& arguments) {
    return "run 600/0: \"" + WorkDir() + "\\bwrs.bat\"" + arguments;
  }

  FakeHost host;
  FakeSystem system;
};

#define REQUIRE_STANDINS() \
  if (!HaveStandins()) GTEST_SKIP() << "worker stand-ins are not built in " << Standin("")

TEST_F(MediaRunTest, AgreementPageOnlyUnlocks) {
  for (int tag : {1, 2, -1}) {
    host.events.clear();
    host.tag = tag;
    host.usb = true;
    Run();
    EXPECT_EQ(host.events, std::vector<std::string>{"unlock"}) << "tag " << tag;
  }
  EXPECT_FALSE(FolderExists(Maker()));
  EXPECT_TRUE(host.fields.CancelRequested);
  EXPECT_EQ(system.lockTakes, 0);
}

TEST_F(MediaRunTest, NoToTheUsbWarningChangesNothing) {
  host.usb = true;
  host.driveText = "F: [DATA]";
  host.answer = false;
  Run();
  EXPECT_EQ(host.events, std::vector<std::string>{"confirm: This command reformats the drive F: "
                                                  "[DATA]\r\n\r\nDo you want to continue?"});
  EXPECT_FALSE(FolderExists(Maker()));
  EXPECT_TRUE(host.fields.CancelRequested);
  EXPECT_EQ(system.lockTakes, 0);
}

// While another window's run holds the lock, nothing is checked, written or run.
TEST_F(MediaRunTest, ARunHeldElsewhereDoesNothing) {
  system.heldElsewhere = true;
  system.version = {2, 5, 1};
  Run();
  ExpectRun(
      {"log: Another Bootwright window is making a medium. Start again when it has "
       "finished."});
  EXPECT_FALSE(FolderExists(Maker()));
  EXPECT_EQ(system.lockTakes, 1);
}

// Whatever escapes a run ends it as a line of its log, with the window idle again.
TEST_F(MediaRunTest, ForeignExceptionsEndTheRunAsALogLine) {
  const struct {
    std::function<void()> raise;
    const char* line;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, "std::bad_alloc"},
      {[] { throw std::runtime_error(""); }, "Unexpected error."},
      {[] { throw 42; }, "Unexpected error."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    host.events.clear();
    host.onDownload = [&c](const std::string&) { c.raise(); };
    // The window carries out a close asked for during the run only when the run returns.
    EXPECT_NO_THROW(Run());
    ExpectFailure(c.line);
  }
}

TEST_F(MediaRunTest, FirstRunInstallsEverythingInOrder) {
  REQUIRE_STANDINS();
  Run();
  const std::string adk = "\"" + WorkDir() + "\\ADK\"";
  ExpectRun({
      "log: TXB Worker is missing.",
      "download 30: " + kProductUrl + " by Tessel Software",
      "log: Installing Tessel Backup System - Worker (TXB Worker)...",
      "run 20/0: \"C:\\cache\\Txb6Inst.exe\" /SP- /verysilent /noicons /LOG "
      "/COMPONENTS=\"TXB_Worker\" /dir=\"" +
          WorkerDir() + "\"",
      "log: Windows Assessment and Deployment Kit (ADK) is missing.",
      "download 10: " + kAdkUrl + " by Microsoft Corporation",
      "log: Installing Windows Assessment and Deployment Kit (ADK)...",
      "run 60/0: \"C:\\cache\\adksetup.exe\" /features OptionId.DeploymentTools /installpath " +
          adk + " /q",
      "log: Windows Preinstallation Environment (WinPE) is missing.",
      "download 10: " + kWinPEUrl + " by Microsoft Corporation",
      "log: Installing Windows Preinstallation Environment (WinPE). Up to 5 GB must be "
      "downloaded. It may take a few minutes...",
      "run 1200/0: \"C:\\cache\\adkwinpesetup.exe\" /features "
      "OptionId.WindowsPreinstallationEnvironment /installpath " +
          adk + " /q",
      "log: Creating the boot image....",
      Build(kIso),
  });
  EXPECT_EQ(host.fields.WorkDir, WorkDir());
  for (const char* name : {"bwrs.bat", "startnet.cmd", "winpe.jpg"}) {
    const std::string carried = ReadFileBytes(bwtest::SourcePath(std::string("resources/") + name));
    EXPECT_FALSE(carried.empty()) << name;
    EXPECT_TRUE(SameBytes(WorkDir() + "\\" + name, carried)) << name;
  }
}

TEST_F(MediaRunTest, RunWithEverythingInPlaceOnlyBuilds) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  // The embedded files of an earlier run are rewritten.
  ASSERT_NO_FATAL_FAILURE(PutFile(WorkDir() + "\\bwrs.bat", "stale"));
  Run();
  ExpectRun({"log: Creating the boot image....", Build(kIso)});
  EXPECT_EQ(ReadFileBytes(WorkDir() + "\\bwrs.bat"),
            ReadFileBytes(bwtest::SourcePath("resources/bwrs.bat")));

  host.events.clear();
  host.usb = true;
  host.driveLetter = 'e';
  Run();
  ASSERT_FALSE(host.events.empty());
  EXPECT_EQ(host.events.front(),
            "confirm: This command reformats the drive E:\r\n\r\nDo you want to continue?");
  host.events.erase(host.events.begin());
  ExpectRun({"log: Creating the boot image....", Build(" USB \"E:\" " + bwtest::kStandinMedium)});
}

TEST_F(MediaRunTest, IsoPathsThatTheScriptCanTake) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  bwtest::ScratchDir media("My Media (new)");
  for (const std::string& iso :
       {std::string(), media / "a&b;c,d=e.iso", std::string("c:/TXBRecovery.iso")}) {
    host.events.clear();
    host.isoText = iso;
    Run();
    ExpectRun({"log: Creating the boot image....",
               Build(" ISO \"" + iso + "\" " + bwtest::kStandinMedium)});
  }
}

TEST_F(MediaRunTest, KitPartsAreTestedIndependently) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker.exe"), Worker()));
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  Run();
  EXPECT_EQ(host.Only("download"),
            std::vector<std::string>{"download 10: " + kWinPEUrl + " by Microsoft Corporation"});
  EXPECT_TRUE(FileExists(Copype()));

  bwtest::RemoveTree(WorkDir() + "\\ADK\\Assessment and Deployment Kit\\Deployment Tools");
  host.events.clear();
  Run();
  EXPECT_EQ(host.Only("download"),
            std::vector<std::string>{"download 10: " + kAdkUrl + " by Microsoft Corporation"});
  EXPECT_EQ(host.Only("run").size(), 2u);
}

TEST_F(MediaRunTest, WorkerVersions) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  ASSERT_NO_FATAL_FAILURE(PutFile(Copype()));
  const struct {
    const char* file;
    const char* version;
    bool passes;
  } cases[] = {{"TXBWorker.exe", "6.1.6.0", true},
               {"TXBWorker-6.1.5.9.exe", "6.1.5.9", false},
               {"TXBWorker-6.10.2.0.exe", "6.10.2.0", true},
               {"TXBWorker-10.0.0.0.exe", "10.0.0.0", true},
               {"TXBWorker-noversion.exe", "0.0.0.0", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    host.events.clear();
    ASSERT_NO_FATAL_FAILURE(CopyInto(Standin(c.file), Worker()));
    Run();
    if (c.passes) {
      ExpectRun({"log: Creating the boot image....", Build(kIso)});
    } else {
      ExpectFailure(
          ErrorLine(ERROR_NOT_SUPPORTED, std::string("TXB Worker is too old (") + c.version + ")"));
      EXPECT_TRUE(host.Only("run").empty());
    }
  }
}

// The stand-in worker, its PE header naming `machine`.
std::string WorkerBuiltFor(WORD machine) {
  std::string bytes = ReadFileBytes(Standin("TXBWorker.exe"));
  LONG header = 0;
  std::memcpy(&header, &bytes[offsetof(IMAGE_DOS_HEADER, e_lfanew)], sizeof header);
  std::memcpy(&bytes[header + 4], &machine, sizeof machine);
  return bytes;
}

// A worker that the medium cannot start ends the run before the kit is fetched.
TEST_F(MediaRunTest, WorkerThatTheMediumCannotStartIsRefused) {
  REQUIRE_STANDINS();
  const std::tuple<WORD, int, std::string> cases[] = {
      // machine, image type (0 amd64), line
      {IMAGE_FILE_MACHINE_AMD64, 1,
       " is a 64-bit program; a 32-bit medium cannot start it. Start Bootwright with /amd64."},
      {IMAGE_FILE_MACHINE_I386, 0,
       " is a 32-bit program; a 64-bit medium cannot start it. Start Bootwright without /amd64."},
      {IMAGE_FILE_MACHINE_UNKNOWN, 1, " is not a Windows program."},
      {IMAGE_FILE_MACHINE_I386, 1, ""},  // the run goes on
  };
  for (const auto& [machine, imageType, line] : cases) {
    bwtest::RemoveTree(WorkDir() + "\\ADK");
    ASSERT_NO_FATAL_FAILURE(PutFile(Worker(), WorkerBuiltFor(machine)));
    host.events.clear();
    host.imageType = imageType;
    Run();
    if (!line.empty()) ExpectFailure("The backup worker " + Worker() + line);
    EXPECT_EQ(host.Only("download").size(), line.empty() ? 2u : 0u) << machine;
  }
}

TEST_F(MediaRunTest, WorkerStillMissingAfterItsInstallerIsTooOld) {
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  ASSERT_NO_FATAL_FAILURE(PutFile(Copype()));
  host.installersWork = false;
  Run();
  ExpectFailure(ErrorLine(ERROR_NOT_SUPPORTED, "TXB Worker is too old (0.0.0.0)"));
  EXPECT_EQ(host.Only("run").size(), 1u);
}

TEST(WorkerVersionAccepted, FirstThreeNumbersCompareAsNumbers) {
  for (const char* v :
       {"6.1.6.0", "6.1.16.0", "6.2.0.0", "6.10.2.0", "7.0.0.0", "10.0.0.0", "65535.0.0.0"}) {
    EXPECT_TRUE(WorkerVersionAccepted(v)) << v;
  }
  for (const char* v : {"6.1.5.9", "6.1.5.65535", "6.0.99.0", "5.99.99.99", "0.0.0.0", "", "6.1"}) {
    EXPECT_FALSE(WorkerVersionAccepted(v)) << v;
  }
}

TEST_F(MediaRunTest, InstalledProductIsCopied) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  ASSERT_NO_FATAL_FAILURE(PutFile(Copype()));
  bwtest::ScratchDir product("product");

  // The product's copy replaces an older staged worker on every run.
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker-6.1.5.9.exe"), Worker()));
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker-10.0.0.0.exe"), product / "TXBWorker.exe"));
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker-6.1.5.9.exe"), product / "TXBWorker.ex_"));
  SetInstallLocation(product.Path() + "\\");
  Run();
  ExpectRun({"log: Creating the boot image....", Build(kIso)});
  EXPECT_EQ(ReadFileBytes(Worker()), ReadFileBytes(product / "TXBWorker.exe"));

  // A product that ships only the packed name is staged under the .exe name.
  DeleteFileA((product / "TXBWorker.exe").c_str());
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker.exe"), product / "TXBWorker.ex_"));
  DeleteFileA(Worker().c_str());
  host.events.clear();
  Run();
  EXPECT_TRUE(host.Only("download").empty());
  EXPECT_EQ(ReadFileBytes(Worker()), ReadFileBytes(Standin("TXBWorker.exe")));

  // Neither name: the product installer runs.
  DeleteFileA((product / "TXBWorker.ex_").c_str());
  DeleteFileA(Worker().c_str());
  host.events.clear();
  Run();
  EXPECT_EQ(host.Only("download"),
            std::vector<std::string>{"download 30: " + kProductUrl + " by Tessel Software"});
}

// Under wine64 both registry views are real; the 64-bit one is read first.
TEST_F(MediaRunTest, InstalledProductIsFoundInEitherRegistryView) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  ASSERT_NO_FATAL_FAILURE(PutFile(Copype()));
  bwtest::ScratchDir in64("product64"), in32("product32");
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker-10.0.0.0.exe"), in64 / "TXBWorker.exe"));
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker-6.10.2.0.exe"), in32 / "TXBWorker.exe"));
  for (int views : {1, 2, 3}) {  // 64-bit, 32-bit, both
    DeleteUninstallKeys();
    if (views & 1) SetInstallLocation(in64.Path(), KEY_WOW64_64KEY);
    if (views & 2) SetInstallLocation(in32.Path(), KEY_WOW64_32KEY);
    Run();
    EXPECT_EQ(ReadFileBytes(Worker()), ReadFileBytes((views & 1 ? in64 : in32) / "TXBWorker.exe"))
        << views;
  }
  EXPECT_TRUE(host.Only("download").empty());
}

TEST_F(MediaRunTest, EmptyInstallLocationInstallsTheProduct) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  ASSERT_NO_FATAL_FAILURE(PutFile(Copype()));
  SetInstallLocation("");
  Run();
  EXPECT_EQ(host.Only("download"),
            std::vector<std::string>{"download 30: " + kProductUrl + " by Tessel Software"});
  EXPECT_EQ(host.events[host.events.size() - 5], Build(kIso));
}

TEST_F(MediaRunTest, ProductInstalledInTheWorkerFolderIsNotCopiedOntoItself) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  ASSERT_NO_FATAL_FAILURE(PutFile(Copype()));
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker.exe"), Worker()));
  const std::string original = ReadFileBytes(Worker());
  // A copy onto itself would fail on the read-only file and end the run.
  ASSERT_TRUE(SetFileAttributesA(Worker().c_str(), FILE_ATTRIBUTE_READONLY));
  std::string lower = WorkerDir();
  CharLowerBuffA(lower.data(), static_cast<DWORD>(lower.size()));
  for (const std::string& location : {WorkerDir(), WorkerDir() + "\\", lower, lower + "\\"}) {
    SCOPED_TRACE(location);
    SetInstallLocation(location);
    host.events.clear();
    Run();
    ExpectRun({"log: Creating the boot image....", Build(kIso)});
  }
  SetFileAttributesA(Worker().c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadFileBytes(Worker()), original);
}

TEST_F(MediaRunTest, FailedCopyNamesItsSource) {
  REQUIRE_STANDINS();
  bwtest::ScratchDir product("product");
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker.exe"), product / "TXBWorker.ex_"));
  SetInstallLocation(product.Path());
  // A folder in the worker's place cannot be overwritten.
  ASSERT_NO_FATAL_FAILURE(PutFile(Worker() + "\\keep"));
  Run();
  ASSERT_GE(host.events.size(), 9u);
  const std::string line = host.events[host.events.size() - 5];
  EXPECT_NE(line.find(product / "TXBWorker.ex_"), std::string::npos) << line;
  EXPECT_TRUE(host.Only("run").empty());
}

TEST_F(MediaRunTest, KitInstallerRefusingSilenceRunsOnceMoreInItsWindow) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker.exe"), Worker()));
  host.exitCodes["adk"] = {2008};
  host.exitCodes["winpe"] = {2008};
  Run();
  const std::string adk = "\"" + WorkDir() + "\\ADK\"";
  const std::string adkRun =
      "\"C:\\cache\\adksetup.exe\" /features OptionId.DeploymentTools "
      "/installpath " +
      adk;
  const std::string peRun =
      "\"C:\\cache\\adkwinpesetup.exe\" /features "
      "OptionId.WindowsPreinstallationEnvironment /installpath " +
      adk;
  EXPECT_EQ(host.Only("run"), (std::vector<std::string>{
                                  "run 60/0: " + adkRun + " /q",
                                  "run 60/5: " + adkRun,
                                  "run 1200/0: " + peRun + " /q",
                                  "run 1200/5: " + peRun,
                                  Build(kIso),
                              }));
  EXPECT_EQ(host.Only("log"),
            (std::vector<std::string>{
                "log: Windows Assessment and Deployment Kit (ADK) is missing.",
                "log: Installing Windows Assessment and Deployment Kit (ADK)...",
                "log: Cannot install ADK automatically. Try install it manually but don't change "
                "any options.",
                "log: Windows Preinstallation Environment (WinPE) is missing.",
                "log: Installing Windows Preinstallation Environment (WinPE). Up to 5 GB must be "
                "downloaded. It may take a few minutes...",
                "log: Cannot install WinPE automatically. Try install it manually but don't "
                "change any options.",
                "log: Creating the boot image....",
            }));
}

TEST_F(MediaRunTest, OnlyASilent2008IsRetried) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker.exe"), Worker()));
  struct Case {
    const char* kind;
    std::deque<long> codes;
    size_t runs;
    std::string line;
  };
  const Case cases[] = {
      {"adk", {2008, 2008}, 2, ErrorLine(2008)},  // the window's run fails as well
      {"adk", {1603}, 1, ErrorLine(1603)},       {"adk", {-1}, 1, "Cancelled."},
      {"winpe", {2008, 5}, 2, ErrorLine(5)},     {"winpe", {1}, 1, ErrorLine(1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.line);
    DeleteFileA(DandISetEnv().c_str());
    DeleteFileA(Copype().c_str());
    if (std::string(c.kind) == "winpe") PutFile(DandISetEnv());
    host.events.clear();
    host.exitCodes.clear();
    host.exitCodes[c.kind] = c.codes;
    Run();
    ExpectFailure(c.line);
    EXPECT_EQ(host.Only("run").size(), c.runs);
  }
}

// The kit's "installed, restart pending" code (3010) has succeeded; with 1641 the installer
// has started the restart itself. The product installer has no such codes.
TEST_F(MediaRunTest, KitInstallerAskingForARestart) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(CopyInto(Standin("TXBWorker.exe"), Worker()));
  ASSERT_NO_FATAL_FAILURE(PutFile(DandISetEnv()));
  for (const std::deque<long>& codes :
       {std::deque<long>{3010}, std::deque<long>{1641}, std::deque<long>{2008, 1641}}) {
    host.events.clear();
    host.exitCodes["winpe"] = codes;
    Run();
    if (codes.back() == 1641) {
      ExpectFailure(
          "adkwinpesetup.exe has started a restart of Windows. Start Bootwright again "
          "when Windows is back.");
      EXPECT_EQ(host.Only("run").size(), codes.size());  // no build
      continue;
    }
    EXPECT_EQ(host.events[host.events.size() - 7],
              "log: Installation finished; Windows asks for a restart, which can wait until the "
              "medium is made.");
    EXPECT_EQ(host.events[host.events.size() - 5], Build(kIso));
  }
  DeleteFileA(Worker().c_str());
  host.exitCodes["worker"] = {3010};
  Run();
  ExpectFailure(ErrorLine(3010));
}

TEST_F(MediaRunTest, OtherFailuresEndTheRunIdle) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  host.exitCodes["build"] = {1};
  Run();
  ExpectFailure(ErrorLine(1));

  host.events.clear();
  host.exitCodes["build"] = {-1};
  Run();
  ExpectFailure("Cancelled.");

  DeleteFileA(Copype().c_str());
  host.events.clear();
  host.onDownload = [](const std::string&) {
    throw EAbort("Cannot download the file. Error: 0x800C0008");
  };
  Run();
  ExpectFailure("Cannot download the file. Error: 0x800C0008");
  EXPECT_TRUE(host.Only("run").empty());
}

TEST_F(MediaRunTest, WindowsOlderThanSevenIsRefused) {
  const std::string line =
      ErrorLine(ERROR_OLD_WIN_VERSION, "(Windows 7+ or Windows Server 2008 R2+)");
  for (WindowsVersion v : {WindowsVersion{2, 6, 0}, WindowsVersion{2, 5, 2},
                           WindowsVersion{1, 6, 1}, WindowsVersion{1, 10, 0}}) {
    SCOPED_TRACE(std::to_string(v.platformId) + " " + std::to_string(v.major) + "." +
                 std::to_string(v.minor));
    system.version = v;
    host.events.clear();
    host.usb = true;
    Run();
    ASSERT_EQ(host.events.size(), 10u);
    EXPECT_EQ(host.events[0].rfind("confirm: ", 0), 0u);  // the warning comes first
    host.events.erase(host.events.begin());
    ExpectRun({"log: " + line});
  }
  EXPECT_FALSE(FolderExists(Maker()));
}

TEST_F(MediaRunTest, SevenAndLaterRun) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  for (WindowsVersion v : {WindowsVersion{2, 6, 1}, WindowsVersion{2, 6, 2},
                           WindowsVersion{2, 6, 3}, WindowsVersion{2, 10, 0}}) {
    system.version = v;
    host.events.clear();
    Run();
    ExpectRun({"log: Creating the boot image....", Build(kIso)});
  }
}

TEST_F(MediaRunTest, UnsafeIsoPathIsRefusedBeforeAnythingHappens) {
  const std::string bad[] = {"C:\\a\"b.iso",
                             "C:\\a<b.iso",
                             "C:\\a>b.iso",
                             "C:\\a|b.iso",
                             "C:\\a*.iso",
                             "C:\\a?.iso",
                             "C:\\%TEMP%.iso",
                             "C:\\a^b.iso",
                             "C:\\a\tb.iso",
                             "C:\\a\r\nb.iso",
                             std::string("C:\\a\x1f"
                                         "b.iso")};
  for (const std::string& iso : bad) {
    SCOPED_TRACE(iso);
    host.events.clear();
    host.isoText = iso;
    Run();
    ExpectRun({"log: " + ErrorLine(123, iso)});
  }
  EXPECT_FALSE(FolderExists(Maker()));

  // Only the ISO file is checked; a USB run does not use the field.
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  host.usb = true;
  host.events.clear();
  Run();
  EXPECT_EQ(host.events[host.events.size() - 5], Build(" USB \"E:\" " + bwtest::kStandinMedium));
}

// Relative paths would be resolved in the kit's folder; a folder that the elevated program
// cannot see would fail only in the media writer.
TEST_F(MediaRunTest, IsoTargetOutOfReachIsRefusedBeforeAnythingHappens) {
  bwtest::ScratchDir out("out");
  for (const std::string& iso : std::vector<std::string>{
           "a.iso", "out\\a.iso", "C:a.iso", "\\a.iso", "\\\\server\\", out / "missing\\a.iso"}) {
    host.events.clear();
    host.isoText = iso;
    Run();
    ExpectRun({"log: " + ErrorLine(iso.rfind(out.Path(), 0) == 0 ? 3 : 161, iso)});
  }
  EXPECT_FALSE(FolderExists(Maker()));
}

TEST_F(MediaRunTest, TheWindowsDriveIsNeverReformatted) {
  system.windows = "D:\\Windows";
  host.usb = true;
  const std::string windowsDrive =
      ErrorLine(ERROR_NOT_SUPPORTED, "D: holds the running Windows and cannot be reformatted");
  // The Windows drive in either case; a list without a selected drive gives no letter.
  for (const auto& [letter, text, error] :
       {std::tuple<char, std::string, std::string>{'D', "D: [SYSTEM]", windowsDrive},
        {'d', "D: [SYSTEM]", windowsDrive},
        {'\0', "", ErrorLine(ERROR_INVALID_DRIVE)},
        {'1', "", ErrorLine(ERROR_INVALID_DRIVE)},
        {' ', "", ErrorLine(ERROR_INVALID_DRIVE)}}) {
    SCOPED_TRACE(text + " letter " + std::to_string(letter));
    host.events.clear();
    host.driveLetter = letter;
    host.driveText = text;
    Run();
    ASSERT_EQ(host.events.size(), 10u);
    host.events.erase(host.events.begin());
    ExpectRun({"log: " + error});
  }
  EXPECT_FALSE(FolderExists(Maker()));

  // The running system's own Windows folder, and the ISO mode, which never formats.
  host.events.clear();
  host.driveLetter = 'C';
  bStartClick(host, RealSystem());
  EXPECT_EQ(host.events[host.events.size() - 5],
            "log: " + ErrorLine(ERROR_NOT_SUPPORTED,
                                "C: holds the running Windows and cannot be reformatted"));
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  host.usb = false;
  host.driveLetter = 'D';
  host.events.clear();
  Run();
  EXPECT_EQ(host.events[host.events.size() - 5], Build(kIso));
}

// With more than two quotes after /c, cmd drops only the first and the last.
TEST_F(MediaRunTest, UnderWow64TheScriptRunsInTheNativeInterpreter) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  system.wow64 = true;
  system.windows = "D:\\Win (x)\\";
  Run();
  EXPECT_EQ(
      host.events[host.events.size() - 5],
      "run 600/0: \"D:\\Win (x)\\Sysnative\\cmd.exe\" /d /c \"" + Build(kIso).substr(11) + "\"");
}

TEST_F(MediaRunTest, MediaWriterIsMendedOnceForUsbOnWindows7) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  const std::string original = std::string("@echo off\n") + kTemplateCopy + "\r\nlast line";
  ASSERT_NO_FATAL_FAILURE(PutFile(MediaWriter(), original));

  // ISO runs, and USB runs on other versions, leave it alone.
  for (WindowsVersion v :
       {WindowsVersion{2, 6, 1}, WindowsVersion{2, 6, 2}, WindowsVersion{2, 10, 1}}) {
    system.version = v;
    host.usb = v.major == 6 && v.minor == 1 ? false : true;
    Run();
    EXPECT_EQ(ReadFileBytes(MediaWriter()), original);
  }

  system.version = {2, 6, 1};
  host.usb = true;
  Run();
  const std::string mended =
      std::string("@echo off\r\n") + kTemplateCopyFixed + "\r\nlast line\r\n";
  EXPECT_EQ(ReadFileBytes(MediaWriter()), mended);
  Run();
  EXPECT_EQ(ReadFileBytes(MediaWriter()), mended);
}

TEST_F(MediaRunTest, DriversOfTheImagesArchitectureAreAnnounced) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  const std::string own = WorkDir() + "\\Drivers\\" + bwtest::kStandinMedium;
  const std::string other =
      WorkDir() + "\\Drivers\\" + (bwtest::kStandinMedium == "x86" ? "amd64" : "x86");
  ASSERT_NO_FATAL_FAILURE(PutFile(own + "\\storage\\vmd\\iaStorVD.INF"));
  ASSERT_NO_FATAL_FAILURE(PutFile(other + "\\readme.txt"));
  Run();
  ExpectRun({"log: Adding the drivers in " + own + " to the image.",
             "log: Creating the boot image....", Build(kIso)});

  bwtest::RemoveTree(own);
  ASSERT_NO_FATAL_FAILURE(PutFile(other + "\\a.inf"));
  host.events.clear();
  Run();
  ExpectRun({"log: Creating the boot image....", Build(kIso)});
}

// Only for a medium of the machine's own architecture; an earlier run's export never stays.
TEST_F(MediaRunTest, ThisComputersDriversGoInForAMediumOfItsOwnArchitecture) {
  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  bwtest::ScratchDir win("win");
  system.windows = win.Path();
  ASSERT_NO_FATAL_FAILURE(PutFile(win / "INF\\oem2.inf", "[Version]\r\nClass=HDC\r\n"));
  ASSERT_NO_FATAL_FAILURE(PutFile(win / "INF\\oem10.inf", "[Version]\r\nClass=Net\r\n"));
  ASSERT_NO_FATAL_FAILURE(PutFile(win / "INF\\oem3.inf", "[Version]\r\nClass=Display\r\n"));
  ASSERT_NO_FATAL_FAILURE(PutFile(win / "system32\\pnputil.exe"));
  const auto exports = [&](const std::string& arch, std::vector<std::string> last) {
    for (const char* package : {"oem10", "oem2"}) {
      last.insert(last.begin(), "run 5/0: \"" + win / "system32\\pnputil.exe\" /export-driver " +
                                    package + ".inf \"" + WorkDir() + "\\Drivers\\" + arch +
                                    "\\This computer\\" + package + "\"");
    }
    return last;
  };
  const std::string added = "log: Adding this computer's storage and network drivers (";
  const std::string image = " to the image.";
  const std::string notAdded = "log: This computer's drivers are not added: ";
  const std::string user = "log: Adding the drivers in " + WorkDir() + "\\Drivers\\x86" + image;
  const std::string skipped =
      "log: This computer's driver package oem10.inf is not added: " + ErrorLine(2) + ".";
  const std::string oldWindows =
      notAdded + ErrorLine(ERROR_OLD_WIN_VERSION, "(Windows 10 version 1607+)") + ".";
  const std::string noPnputil =
      notAdded + ErrorLine(ERROR_FILE_NOT_FOUND, win / "Sysnative\\pnputil.exe") + ".";
  constexpr WORD x64 = IMAGE_FILE_MACHINE_AMD64, x86 = IMAGE_FILE_MACHINE_I386;
  const struct {
    WORD native;
    int imageType;
    bool wanted, wow64;
    DWORD build;
    std::deque<long> codes;
    std::vector<std::string> lines;  // before "Creating the boot image...."
    bool earlierKept, exported;
  } cases[] = {
      {x64, 0, true, false, 14393, {}, exports("amd64", {added + "2)" + image}), 0, 1},
      {x86, 1, true, false, 19045, {}, exports("x86", {added + "2)" + image}), 0, 1},
      {x64, 0, true, false, 19045, {0, 2}, exports("amd64", {skipped, added + "1)" + image}), 0, 1},
      {x64, 0, true, false, 19045, {5, 5}, exports("amd64", {notAdded + ErrorLine(5) + "."}), 0, 0},
      {x64, 0, true, false, 10586, {}, {oldWindows}, 0, 0},
      {x64, 0, true, true, 19045, {}, {noPnputil}, 0, 0},
      {x64, 0, false, false, 19045, {}, {}, 0, 0},
      // Another architecture's folder is the user's alone.
      {x64, 1, true, false, 19045, {}, {user}, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.empty() ? "nothing" : c.lines.back());
    const std::string own =
        WorkDir() + "\\Drivers\\" + (c.imageType == 0 ? "amd64" : "x86") + "\\This computer";
    ASSERT_NO_FATAL_FAILURE(PutFile(own + "\\earlier\\old.inf"));
    ASSERT_NO_FATAL_FAILURE(PutFile(Worker(), WorkerBuiltFor(c.imageType == 0 ? x64 : x86)));
    system.native = c.native;
    system.build = c.build;
    system.wow64 = c.wow64;
    host.imageType = c.imageType;
    host.hostDrivers = c.wanted;
    host.exitCodes["pnputil"] = c.codes;
    host.events.clear();
    Run();
    const auto creating =
        std::find(host.events.begin(), host.events.end(), "log: Creating the boot image....");
    EXPECT_EQ(std::vector<std::string>(host.events.begin() + 4, creating), c.lines);
    EXPECT_EQ(FolderExists(own + "\\earlier"), c.earlierKept);
    EXPECT_EQ(FolderExists(own + "\\oem2"), c.exported);
    bwtest::RemoveTree(WorkDir() + "\\Drivers");
  }

  // Cancel is no failure of the step: it ends the run. (The prefix itself has no package: the
  // other tests show that nothing changes then.)
  ASSERT_NO_FATAL_FAILURE(PutFile(Worker(), WorkerBuiltFor(x64)));
  system.native = x64;
  host.imageType = 0;
  host.exitCodes["pnputil"] = {-1};
  host.events.clear();
  Run();
  ExpectFailure("Cancelled.");
}

TEST(NamesStorageOrNetworkClass, ClassOrClassGuidOfTheVersionSection) {
  const auto utf16 = [](const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += {c, '\0'};
    return bytes;
  };
  const struct {
    std::string inf;
    bool kept;
  } cases[] = {
      {"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=SCSIAdapter\r\n", true},
      {"[version]\nCLASS = hdc;disk controllers\n", true},
      {"[Version]\nClass=\"Net\"", true},
      {"[Version]\nClassGuid={4D36E972-E325-11CE-BFC1-08002BE10318}\n", true},
      {"[ Version ] ; x\nClassGUID = \"{4d36e97b-e325-11ce-bfc1-08002be10318}\"\n", true},
      {"\xEF\xBB\xBF[Version]\nClassGuid={4d36e96a-e325-11ce-bfc1-08002be10318}", true},
      {utf16("[Version]\r\nProvider=\"\xE9\"\r\nClass=Net\r\n"), true},
      {utf16("[Version]\r\nClass=Display\r\n"), false},
      {"", false},
      {"[Version]\nClass=Display\nClassGuid={4d36e968-e325-11ce-bfc1-08002be10318}\n", false},
      {"[Version]\n;Class=Net\nClass=NetService ; Net\nProvider=\"a;Class=Net\"\n", false},
      {"Class=Net\n[Strings]\nClass=Net\n", false},
      {"[Version]\nSignature=\"$Windows NT$\"\n[Manufacturer]\nClass=Net\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(NamesStorageOrNetworkClass(c.inf), c.kept) << c.inf;
}

TEST(HoldsDriverPackage, AnyInfFileBelowTheFolder) {
  bwtest::ScratchDir dir("drivers");
  const struct {
    const char* file;  // the only file below the folder, or none
    bool holds;
  } cases[] = {
      {nullptr, false},        {"a.inf", true},
      {"net\\x\\B.INF", true}, {"c.Inf", true},
      {"a.info", false},       {"a.inf.txt", false},
      {"inf", false},          {"a.inf\\keep.txt", false},  // a folder so named
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string folder = dir / std::to_string(n++);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    if (c.file) PutFile(folder + "\\" + c.file);
    EXPECT_EQ(HoldsDriverPackage(folder), c.holds) << (c.file ? c.file : "(empty)");
  }
  EXPECT_FALSE(HoldsDriverPackage(dir / "missing"));
  // Files that cmd's `for /r` does not list would not reach the script's decision either.
  ASSERT_NO_FATAL_FAILURE(PutFile(dir / "hidden\\a.inf"));
  ASSERT_TRUE(SetFileAttributesA((dir / "hidden\\a.inf").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(HoldsDriverPackage(dir / "hidden"));
}

TEST(WriteRunLog, CrLfLinesAndThePreviousRunKept) {
  bwtest::ScratchDir dir("runlog");
  const std::string log = dir / "Bootwright.log";
  const std::string previous = dir / "Bootwright.previous.log";
  const struct {
    const char* text;
    const char* file;
    const char* previous;  // nullptr: none
  } runs[] = {
      {"first\r\nDONE!\r\n", "first\r\nDONE!\r\n", nullptr},
      {"second\nlone LF\rlone CR", "second\r\nlone LF\r\nlone CR\r\n", "first\r\nDONE!\r\n"},
      {"", "", "second\r\nlone LF\r\nlone CR\r\n"},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.file);
    WriteRunLog(dir.Path(), run.text);
    EXPECT_EQ(ReadFileBytes(log), run.file);
    EXPECT_EQ(FileExists(previous), run.previous != nullptr);
    if (run.previous) {
      EXPECT_EQ(ReadFileBytes(previous), run.previous);
    }
  }
  // A missing folder is not made. Whichever step cannot be done (the log cannot move, the
  // previous one cannot be replaced, the new one cannot be written), the run before stays and
  // nothing half-made is left.
  EXPECT_NO_THROW(WriteRunLog(dir / "missing", "text"));
  EXPECT_FALSE(FolderExists(dir / "missing"));
  ASSERT_NO_FATAL_FAILURE(WriteFileBytes(log, "kept\r\n"));
  ASSERT_NO_FATAL_FAILURE(WriteFileBytes(previous, "before\r\n"));
  const std::string fresh = dir / "Bootwright.log.new";
  for (const std::string& blocked : {log, previous, fresh}) {
    SCOPED_TRACE(blocked);
    UniqueFileHandle held(CreateFileA(blocked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(blocked == fresh ? CreateDirectoryA(fresh.c_str(), nullptr) : bool(held));
    EXPECT_NO_THROW(WriteRunLog(dir.Path(), "lost"));
    EXPECT_EQ(ReadFileBytes(log), "kept\r\n");
    EXPECT_EQ(ReadFileBytes(previous), "before\r\n");
    EXPECT_FALSE(FileExists(fresh));
  }
}

TEST_F(MediaRunTest, EveryEndingAsksForTheLogOnceTheWorkingFolderExists) {
  // Before the working folder exists: nothing to save into.
  host.usb = true;
  host.driveLetter = 0;
  Run();
  EXPECT_TRUE(host.saves.empty());

  REQUIRE_STANDINS();
  ASSERT_NO_FATAL_FAILURE(Prepared());
  host.usb = false;
  for (long code : {0L, 1L, -1L}) {  // done, failed, cancelled
    SCOPED_TRACE(code);
    host.events.clear();
    host.saves.clear();
    host.exitCodes["build"] = {code};
    Run();
    EXPECT_EQ(host.saves,
              (std::vector<std::pair<std::string, size_t>>{{WorkDir(), host.events.size()}}));
  }
}

TEST(PatchMakeWinPEMedia, ReplacesOnlyTheFirstOccurrence) {
  bwtest::ScratchDir dir("patch");
  FakeSystem seven;
  ASSERT_NO_FATAL_FAILURE(
      WriteFileBytes(dir / "m.cmd", std::string(kTemplateCopy) + "\nrem " + kTemplateCopy));
  PatchMakeWinPEMedia(dir / "m.cmd", seven);
  EXPECT_EQ(ReadFileBytes(dir / "m.cmd"),
            std::string(kTemplateCopyFixed) + "\r\nrem " + kTemplateCopy + "\r\n");
}

TEST(PatchMakeWinPEMedia, LeavesOtherFilesAndNeverRaises) {
  bwtest::ScratchDir dir("patch");
  FakeSystem seven;
  const std::string text = "@echo off\nxcopy /HERKY \"%WORKINGDIR%\\%TEMPL%\" \"%DEST%\\\" >NUL\n";
  ASSERT_NO_FATAL_FAILURE(WriteFileBytes(dir / "m.cmd", text));
  PatchMakeWinPEMedia(dir / "m.cmd", seven);
  EXPECT_EQ(ReadFileBytes(dir / "m.cmd"), text);
  EXPECT_NO_THROW(PatchMakeWinPEMedia(dir / "missing.cmd", seven));
  EXPECT_FALSE(FileExists(dir / "missing.cmd"));
}

TEST_F(MediaRunTest, ExtractResourceWritesTheCarriedBytes) {
  bwtest::ScratchDir dir("extract");
  for (const char* name : {"BWRS.BAT", "startnet.cmd", "WinPE.jpg"}) {
    ExtractResource(dir.Path(), name);
    std::string lower = name;
    CharLowerBuffA(lower.data(), static_cast<DWORD>(lower.size()));
    EXPECT_TRUE(SameBytes(dir / name, ReadFileBytes(bwtest::SourcePath("resources/" + lower))))
        << name;
  }
  const std::string missing =
      bwtest::MessageOf<Exception>([&] { ExtractResource(dir.Path(), "nothing.txt"); });
  EXPECT_NE(missing.find("nothing.txt"), std::string::npos) << missing;
  const std::string uncreatable =
      bwtest::MessageOf<Exception>([&] { ExtractResource(dir / "no such folder", "bwrs.bat"); });
  EXPECT_NE(uncreatable.find(dir / "no such folder\\bwrs.bat"), std::string::npos) << uncreatable;
}

TEST(GetSpecialFolder, ProgramFiles) {
  // A 32-bit program on a 64-bit Windows, the product among them, gets the x86 folder.
  EXPECT_EQ(GetSpecialFolder(CSIDL_PROGRAM_FILES),
            RealSystem().IsWow64() ? "C:\\Program Files (x86)" : "C:\\Program Files");
  EXPECT_EQ(GetSpecialFolder(0x7E), "");
}

TEST(QuotedString, DoublesInnerQuotes) {
  EXPECT_EQ(QuotedString(""), "\"\"");
  EXPECT_EQ(QuotedString("a \"b\""), "\"a \"\"b\"\"\"");
}

}  // namespace
