// The switches, layouts and exit codes of the kit's and the product's stand-ins that the
// wizard's and the build script's tests rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "kit/KitFiles.h"
#include "support/Signature.h"

namespace {

using bwtest::Quote;

class KitStandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("BW_JOURNAL", journal_);
    for (const char* name :
         {"BW_ADKSETUP_EXIT", "BW_ADKSETUP_QUIET_EXIT", "BW_ADKWINPESETUP_EXIT",
          "BW_ADKWINPESETUP_QUIET_EXIT", "BW_TXB6INST_EXIT", "BW_WORKER_SOURCE", "BW_UFD_DIR",
          "BW_DISM_MOUNT_EXIT", "BW_DISM_COMMIT_EXIT", "BW_DISM_DISCARD_EXIT",
          "BW_DISM_CLEANUP_EXIT", "BW_DISM_LOCALE_EXIT", "BW_COPYPE_EXIT", "BW_COPYPE_IMAGE_EXTRA",
          "BW_MAKEWINPEMEDIA_EXIT", "BW_TAKEOWN_EXIT"}) {
      env_.Unset(name);
    }
  }

  bwtest::ProcessResult Run(const std::string& tool, const std::string& args) {
    return bwtest::RunProcess(Quote(bwtest::StandinDir() + "\\" + tool) + " " + args);
  }

  std::vector<std::string> Journal() { return bwtest::ReadJournal(journal_); }

  bwtest::ScratchDir scratch_{"kit"};
  std::string journal_ = scratch_ / "journal.txt";
  bwtest::ScopedEnv env_;
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST_F(KitStandinTest, InstallersAreSigned) {
  for (const char* name : {"adksetup.exe", "adkwinpesetup.exe", "Txb6Inst.exe"}) {
    EXPECT_TRUE(bw::VerifyFileSignature(Wide(bwtest::StandinDir() + "\\" + name))) << name;
  }
}

TEST_F(KitStandinTest, KitInstallersLayOutTheirFeatureOnly) {
  const std::string adk = scratch_ / "Program Files (x86)\\B W\\ADK";
  const std::string kit = adk + "\\Assessment and Deployment Kit";
  const std::string tools = "/features OptionId.DeploymentTools /installpath " + Quote(adk);
  const std::string winpe =
      "/features OptionId.WindowsPreinstallationEnvironment /installpath " + Quote(adk);

  auto result = Run("adksetup.exe", tools + " /q");
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(bwtest::ReadFileBytes(kit + "\\Deployment Tools\\DandISetEnv.bat"),
            bwtest::ReadFileBytes(bwtest::SourcePath("standins/kit/DandISetEnv.bat")));
  for (const char* tool : {"dism.exe", "takeown.exe", "kittool.exe"}) {
    EXPECT_TRUE(bwtest::FileExists(kit + "\\Deployment Tools\\Tools\\" + tool)) << tool;
  }
  EXPECT_FALSE(bwtest::FolderExists(kit + "\\Windows Preinstallation Environment"));

  result = Run("adkwinpesetup.exe", winpe + " /q");
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  const std::string pe = kit + "\\Windows Preinstallation Environment";
  EXPECT_TRUE(bwtest::FileExists(pe + "\\copype.cmd"));
  EXPECT_TRUE(bwtest::FileExists(pe + "\\Tools\\kittool.exe"));
  std::string media = bwtest::ReadFileBytes(pe + "\\MakeWinPEMedia.cmd");
  EXPECT_NE(media.find("xcopy /herky \"%WORKINGDIR%\\%TEMPL%\" \"%DEST%\\\" >NUL"),
            std::string::npos);
  EXPECT_EQ(media.find('\n'), media.find("\r\n") + 1) << "CR LF line ends";

  EXPECT_EQ(Journal(), (std::vector<std::string>{"adksetup " + tools + " /q",
                                                 "adkwinpesetup " + winpe + " /q"}));
}

TEST_F(KitStandinTest, KitInstallersRefuseOtherSwitchesAndObeySteering) {
  const std::string adk = scratch_ / "ADK";
  const std::string marker =
      adk + "\\Assessment and Deployment Kit\\Deployment Tools\\DandISetEnv.bat";
  const std::string tools = "/features OptionId.DeploymentTools /installpath " + Quote(adk);

  auto result = Run("adksetup.exe",
                    "/features OptionId.WindowsPreinstallationEnvironment "
                    "/installpath " +
                        Quote(adk) + " /q");
  EXPECT_NE(result.exitCode, 0u);
  result = Run("adksetup.exe", tools + " /q /norestart");
  EXPECT_NE(result.exitCode, 0u);
  EXPECT_NE(result.output.find("/norestart"), std::string::npos) << result.output;
  EXPECT_NE(Run("adksetup.exe", "/features OptionId.DeploymentTools /q").exitCode, 0u);
  EXPECT_NE(Run("adkwinpesetup.exe", tools + " /q").exitCode, 0u);
  EXPECT_FALSE(bwtest::FolderExists(adk));

  // 2008 ends only the silent run; the interactive one then installs.
  env_.Set("BW_ADKSETUP_QUIET_EXIT", "2008");
  EXPECT_EQ(Run("adksetup.exe", tools + " /q").exitCode, 2008u);
  EXPECT_FALSE(bwtest::FileExists(marker));
  EXPECT_EQ(Run("adksetup.exe", tools).exitCode, 0u);
  EXPECT_TRUE(bwtest::FileExists(marker));

  env_.Set("BW_ADKWINPESETUP_EXIT", "1603");
  EXPECT_EQ(Run("adkwinpesetup.exe",
                "/features OptionId.WindowsPreinstallationEnvironment /installpath " + Quote(adk))
                .exitCode,
            1603u);
}

TEST_F(KitStandinTest, ProductInstallerTakesExactlyTheWorkerComponent) {
  const std::string worker = scratch_ / "worker.exe";
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(worker, "MZ stand-in worker"));
  env_.Set("BW_WORKER_SOURCE", worker);
  const std::string dir = scratch_ / "Program Files (x86)\\Tessel Software\\Bootwright\\TXB";
  const std::string fixed = "/SP- /verysilent /noicons /LOG /COMPONENTS=\"TXB_Worker\" ";

  auto result = Run("Txb6Inst.exe", fixed + "/dir=" + Quote(dir));
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(bwtest::ReadFileBytes(dir + "\\TXBWorker.exe"), "MZ stand-in worker");
  EXPECT_EQ(Journal(), std::vector<std::string>{"Txb6Inst " + fixed + "/dir=" + Quote(dir)});

  const std::string other = scratch_ / "other";
  EXPECT_NE(Run("Txb6Inst.exe", fixed).exitCode, 0u);
  EXPECT_NE(Run("Txb6Inst.exe",
                "/SP- /verysilent /noicons /LOG /COMPONENTS=\"TXB_Server\" /dir=" + Quote(other))
                .exitCode,
            0u);
  result = Run("Txb6Inst.exe", fixed + "/dir=" + Quote(other) + " /bogus");
  EXPECT_NE(result.exitCode, 0u);
  EXPECT_NE(result.output.find("/bogus"), std::string::npos);
  env_.Set("BW_TXB6INST_EXIT", "5");
  EXPECT_EQ(Run("Txb6Inst.exe", fixed + "/dir=" + Quote(other)).exitCode, 5u);
  EXPECT_FALSE(bwtest::FolderExists(other));
  env_.Unset("BW_TXB6INST_EXIT");

  // Without BW_WORKER_SOURCE the worker beside the installer is installed.
  env_.Unset("BW_WORKER_SOURCE");
  const std::string download = scratch_ / "download";
  ASSERT_TRUE(CreateDirectoryA(download.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(CopyFileA((bwtest::StandinDir() + "\\Txb6Inst.exe").c_str(),
                        (download + "\\Txb6Inst.exe").c_str(), FALSE));
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(download + "\\TXBWorker.exe", "MZ beside"));
  result =
      bwtest::RunProcess(Quote(download + "\\Txb6Inst.exe") + " " + fixed + "/dir=" + Quote(other));
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(bwtest::ReadFileBytes(other + "\\TXBWorker.exe"), "MZ beside");
}

// copype, DISM and MakeWinPEMedia on one working copy, as the build script drives them.
class WinPEToolsTest : public KitStandinTest {
 protected:
  void SetUp() override {
    KitStandinTest::SetUp();
    env_.Set("WinPERoot", scratch_.Path());  // what DandISetEnv leaves for the kit's tools
    auto result = Run("kittool.exe", "copype amd64 " + Quote(build_));
    ASSERT_EQ(result.exitCode, 0u) << result.output;
  }

  bwtest::ProcessResult Dism(const std::string& args) { return Run("dism.exe", args); }

  standin::Archive Image() {
    standin::Archive image;
    EXPECT_TRUE(standin::ParseArchive(bwtest::ReadFileBytes(wim_), image));
    return image;
  }

  std::string build_ = scratch_ / "tmp (1)\\txb boot";
  std::string wim_ = build_ + "\\media\\sources\\boot.wim";
  std::string mount_ = build_ + "\\mount";
  std::string mountArgs_ =
      "/Mount-Image /ImageFile:" + Quote(wim_) + " /index:1 /MountDir:" + Quote(mount_);
};

TEST_F(WinPEToolsTest, MountCommitAndDiscard) {
  EXPECT_TRUE(bwtest::FolderExists(mount_));
  ASSERT_EQ(Image().settings["locale"], "en-US");

  auto result = Dism(mountArgs_);
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  const std::string system32 = mount_ + "\\Windows\\System32";
  EXPECT_EQ(bwtest::ReadFileBytes(system32 + "\\startnet.cmd"), "wpeinit\r\n");
  DWORD attributes = GetFileAttributesA((system32 + "\\winpe.jpg").c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(Dism(mountArgs_).exitCode, 0u) << "mounted twice";

  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(system32 + "\\added.txt", "added"));
  EXPECT_EQ(Dism("/image:" + Quote(mount_) + " /Set-SysLocale:pl-PL").exitCode, 0u);
  result = Dism("/Unmount-Image /MountDir:" + Quote(mount_) + " /commit");
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  standin::Archive image = Image();
  EXPECT_EQ(image.settings["locale"], "pl-PL");
  ASSERT_NE(image.Find("Windows\\System32\\added.txt"), nullptr);
  EXPECT_EQ(*image.Find("Windows\\System32\\added.txt"), "added");
  EXPECT_NE(image.Find("Windows\\System32\\winpe.jpg"), nullptr);
  EXPECT_FALSE(bwtest::FileExists(system32 + "\\added.txt")) << "the mount folder is emptied";

  const std::string committed = bwtest::ReadFileBytes(wim_);
  ASSERT_EQ(Dism(mountArgs_).exitCode, 0u);
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(system32 + "\\dropped.txt", "dropped"));
  EXPECT_EQ(Dism("/Unmount-Image /MountDir:" + Quote(mount_) + " /discard").exitCode, 0u);
  EXPECT_EQ(bwtest::ReadFileBytes(wim_), committed);
  EXPECT_FALSE(bwtest::FileExists(system32 + "\\dropped.txt"));

  EXPECT_NE(Dism("/Unmount-Image /MountDir:" + Quote(mount_) + " /discard").exitCode, 0u)
      << "nothing is mounted any more";
  EXPECT_NE(Dism("/image:" + Quote(mount_) + " /Set-SysLocale:pl-PL").exitCode, 0u);
}

TEST_F(WinPEToolsTest, SteeredAndBadCallsFail) {
  env_.Set("BW_DISM_MOUNT_EXIT", "0xC1420116");
  EXPECT_EQ(Dism(mountArgs_).exitCode, 0xC1420116u);
  EXPECT_FALSE(bwtest::FileExists(mount_ + "\\Windows\\System32\\winpe.jpg"));
  env_.Unset("BW_DISM_MOUNT_EXIT");

  auto result = Dism(mountArgs_ + " /Bogus");
  EXPECT_EQ(result.exitCode, 87u);
  EXPECT_NE(result.output.find("/Bogus"), std::string::npos) << result.output;
  EXPECT_EQ(Dism("/Mount-Image /ImageFile:" + Quote(wim_) + " /index:2 /MountDir:" + Quote(mount_))
                .exitCode,
            87u);
  EXPECT_NE(Dism("/Unmount-Image /MountDir:" + Quote(mount_)).exitCode, 0u);

  ASSERT_EQ(Dism(mountArgs_).exitCode, 0u);
  for (const auto& [variable, args] :
       {std::pair<std::string, std::string>{"BW_DISM_LOCALE_EXIT",
                                            "/image:" + Quote(mount_) + " /Set-SysLocale:pl-PL"},
        {"BW_DISM_COMMIT_EXIT", "/Unmount-Image /MountDir:" + Quote(mount_) + " /commit"},
        {"BW_DISM_DISCARD_EXIT", "/Unmount-Image /MountDir:" + Quote(mount_) + " /discard"},
        {"BW_DISM_CLEANUP_EXIT", "/Cleanup-Mountpoints"}}) {
    env_.Set(variable, "-1052638953");
    EXPECT_EQ(Dism(args).exitCode, 0xC1420117u) << variable;
    env_.Unset(variable);
  }
  EXPECT_TRUE(bwtest::FileExists(mount_ + "\\Windows\\System32\\winpe.jpg")) << "still mounted";

  // A stale mount (its folder deleted) is forgotten by the clean-up, so copype and a new
  // mount at the same place work again.
  bwtest::RemoveTree(build_);
  EXPECT_EQ(Dism("/Cleanup-Mountpoints").exitCode, 0u);
  ASSERT_EQ(Run("kittool.exe", "copype amd64 " + Quote(build_)).exitCode, 0u);
  EXPECT_EQ(Dism(mountArgs_).exitCode, 0u);
  EXPECT_EQ(Dism("/Unmount-Image /MountDir:" + Quote(mount_) + " /discard").exitCode, 0u);
}

TEST_F(WinPEToolsTest, CopypeAndMediaWriter) {
  EXPECT_NE(Run("kittool.exe", "copype amd64 " + Quote(build_)).exitCode, 0u)
      << "the folder exists already";
  EXPECT_NE(Run("kittool.exe", "copype ia64 " + Quote(scratch_ / "other")).exitCode, 0u);
  env_.Set("BW_COPYPE_EXIT", "9");
  EXPECT_EQ(Run("kittool.exe", "copype x86 " + Quote(scratch_ / "other")).exitCode, 9u);
  env_.Unset("BW_COPYPE_EXIT");

  const std::string iso = scratch_ / "out (2)\\boot image.iso";
  ASSERT_TRUE(CreateDirectoryA((scratch_ / "out (2)").c_str(), nullptr)) << GetLastError();
  ASSERT_EQ(Dism(mountArgs_).exitCode, 0u);
  EXPECT_NE(
      Run("kittool.exe", "MakeWinPEMedia /ISO /F " + Quote(build_) + " " + Quote(iso)).exitCode, 0u)
      << "the image is still mounted";
  ASSERT_EQ(Dism("/Unmount-Image /MountDir:" + Quote(mount_) + " /commit").exitCode, 0u);

  EXPECT_NE(Run("kittool.exe", "MakeWinPEMedia /ISO " + Quote(build_) + " " + Quote(iso)).exitCode,
            0u)
      << "without /F the kit's script would ask";
  auto result = Run("kittool.exe", "MakeWinPEMedia /ISO /F " + Quote(build_) + " " + Quote(iso));
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  standin::Archive medium;
  ASSERT_TRUE(standin::ParseArchive(bwtest::ReadFileBytes(iso), medium));
  ASSERT_NE(medium.Find("sources\\boot.wim"), nullptr);
  EXPECT_EQ(*medium.Find("sources\\boot.wim"), bwtest::ReadFileBytes(wim_));

  const std::string ufd = scratch_ / "usb drive";
  EXPECT_NE(Run("kittool.exe", "MakeWinPEMedia /UFD /F " + Quote(build_) + " \"E:\"").exitCode, 0u)
      << "no folder stands in for the drive";
  ASSERT_TRUE(CreateDirectoryA(ufd.c_str(), nullptr)) << GetLastError();
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(ufd + "\\old.txt", "formatted away"));
  env_.Set("BW_UFD_DIR", ufd);
  result = Run("kittool.exe", "MakeWinPEMedia /UFD /F " + Quote(build_) + " \"E:\"");
  ASSERT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_EQ(bwtest::ReadFileBytes(ufd + "\\sources\\boot.wim"), bwtest::ReadFileBytes(wim_));
  EXPECT_FALSE(bwtest::FileExists(ufd + "\\old.txt"));
  EXPECT_NE(Run("kittool.exe", "MakeWinPEMedia /UFD /F " + Quote(build_) + " \"E:\\x\"").exitCode,
            0u);

  env_.Set("BW_MAKEWINPEMEDIA_EXIT", "3");
  EXPECT_EQ(Run("kittool.exe", "MakeWinPEMedia /UFD /F " + Quote(build_) + " \"E:\"").exitCode, 3u);
  env_.Unset("WinPERoot");
  env_.Unset("BW_MAKEWINPEMEDIA_EXIT");
  EXPECT_NE(
      Run("kittool.exe", "MakeWinPEMedia /ISO /F " + Quote(build_) + " " + Quote(iso)).exitCode, 0u)
      << "DandISetEnv has not run";
  EXPECT_NE(Run("kittool.exe", "copype x86 " + Quote(scratch_ / "other")).exitCode, 0u);

  const std::vector<std::string> calls = Journal();
  for (const std::string& call :
       {"copype amd64 " + Quote(build_), "MakeWinPEMedia /UFD /F " + Quote(build_) + " \"E:\""}) {
    EXPECT_NE(std::find(calls.begin(), calls.end(), call), calls.end()) << call;
  }
}

TEST_F(KitStandinTest, Takeown) {
  const std::string file = scratch_ / "a (1).jpg";
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(file, "x"));
  EXPECT_EQ(Run("takeown.exe", "/f " + Quote(file)).exitCode, 0u);
  EXPECT_NE(Run("takeown.exe", "/f " + Quote(scratch_ / "missing.jpg")).exitCode, 0u);
  auto result = Run("takeown.exe", "/f " + Quote(file) + " /r");
  EXPECT_NE(result.exitCode, 0u);
  EXPECT_NE(result.output.find("/r"), std::string::npos);
  ASSERT_FALSE(Journal().empty());
  EXPECT_EQ(Journal()[0], "takeown /f " + Quote(file));
}

}  // namespace
