// The wizard runs elevated, often from a folder that others can write to: DLLs planted there
// under the names of system DLLs must never load.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "AppDriver.h"
#include "Machine.h"
#include "ServedMachine.h"
#include "common/TestSupport.h"

namespace {

using namespace machine;

using PlantedDlls = ServedMachine;

// version.dll is left out: Wine's own advapi32 loads it through the ordinary search whatever
// the program does. The import-table check covers it.
const char* const kPlanted[] = {"wintrust", "crypt32", "mpr", "urlmon", "riched20"};

TEST_F(PlantedDlls, BesideTheProgramAreNeverLoadedThroughAWholeRun) {
  char overrides[512] = {};
  GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  if (!std::string(overrides).ends_with(";wintrust,crypt32,mpr,urlmon,riched20=n,b")) {
    GTEST_SKIP() << "needs Wine's native-first setting for the planted names (CTest sets it)";
  }
  const std::string folder = *out_ / "Downloads";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string program = folder + "\\Bootwright.exe";
  ASSERT_TRUE(CopyFileA(WizardUnderTestPath().c_str(), program.c_str(), FALSE));
  for (const char* name : kPlanted) {
    ASSERT_TRUE(CopyFileA((bwtest::BinDir() + "\\bw_planted.dll").c_str(),
                          (folder + "\\" + name + ".dll").c_str(), FALSE));
  }
  StageKit();
  SetFileAttributesA(Worker().c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(Worker().c_str());  // so the run downloads the product installer

  auto loaded = [&folder] {
    std::string names;
    for (const char* name : kPlanted) {
      if (bwtest::FileExists(folder + "\\" + name + ".dll.loaded"))
        names += std::string(name) + " ";
    }
    return names;
  };

  bwdrive::App app;
  std::string why;
  const bool started = StartIsoRun(app, program, *out_ / "Recovery.iso", why);
  // A planted DLL lacks the real one's entries: the program dies at its first call into one.
  bwdrive::WaitFor(
      [&] {
        return !loaded().empty() || !app.Running() || app.Log().find("DONE!") != std::string::npos;
      },
      kRunTimeout, 200);
  if (!loaded().empty()) {
    app.Kill();
    FAIL() << "planted DLLs that were loaded: " << loaded();
  }
  ASSERT_TRUE(started) << why;
  const std::string log = app.Log();
  EXPECT_NE(log.find("Downloading "), std::string::npos) << log;
  EXPECT_NE(log.find("DONE!"), std::string::npos) << log;
  app.Close();
  if (!app.WaitExit(kTimeout)) app.Kill();
}

}  // namespace
