#include "Machine.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <tuple>

#include "common/TestSupport.h"
#include "support/Files.h"
#include "support/Handles.h"

namespace machine {

std::string WizardPath() { return bwtest::BinDir() + "\\Bootwright.exe"; }
std::string WizardUnderTestPath() { return bwtest::BinDir() + "\\undertest\\Bootwright.exe"; }
std::string Standin(const std::string& name) { return bwtest::StandinDir() + "\\" + name; }

std::string WorkDir() {
  char folder[MAX_PATH + 1] = {};
  SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, TRUE);
  return std::string(folder) + "\\Tessel Software\\Bootwright";
}
std::string Kit() { return WorkDir() + "\\ADK\\Assessment and Deployment Kit"; }
std::string DeploymentToolsMarker() { return Kit() + "\\Deployment Tools\\DandISetEnv.bat"; }
std::string WinPEMarker() { return Kit() + "\\Windows Preinstallation Environment\\copype.cmd"; }
std::string Worker() { return WorkDir() + "\\TXB\\TXBWorker.exe"; }

std::string NoWindow(const bwdrive::App& app) {
  return app.Running() ? "no window within the time"
                       : "the wizard ended at once with code " + std::to_string(app.ExitCode()) +
                             " (no window could be made on DISPLAY?)";
}

void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& value) {
  bw::UniqueKey key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                            nullptr),
            ERROR_SUCCESS)
      << path;
  ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS)
      << path << "\\" << name;
}

void AcceptAgreement() {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Bootwright");
  ASSERT_NO_FATAL_FAILURE(SetString(HKEY_CURRENT_USER, kStoreKey, "bStart_Tag", "0"));
}

void StageWorker(const std::string& source) {
  ASSERT_TRUE(bw::ForceDirectories(WorkDir() + "\\TXB")) << WorkDir() << ": " << GetLastError();
  SetFileAttributesA(Worker().c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(CopyFileA(source.c_str(), Worker().c_str(), FALSE))
      << source << " to " << Worker() << ": " << GetLastError();
}

void StageKit() {
  const std::string adk = WorkDir() + "\\ADK";
  for (const auto& [marker, installer, feature] :
       {std::tuple<std::string, const char*, const char*>{DeploymentToolsMarker(), "adksetup.exe",
                                                          "DeploymentTools"},
        {WinPEMarker(), "adkwinpesetup.exe", "WindowsPreinstallationEnvironment"}}) {
    if (bwtest::FileExists(marker)) continue;
    const bwtest::ProcessResult result =
        bwtest::RunProcess(bwtest::Quote(Standin(installer)) + " /features OptionId." + feature +
                           " /installpath " + bwtest::Quote(adk) + " /q");
    ASSERT_EQ(result.exitCode, 0u) << installer << ": " << result.output;
    ASSERT_TRUE(bwtest::FileExists(marker)) << marker;
  }
}

// Wine has no timeout.exe. The stand-ins go into system32 only (other tests in this prefix
// run beside these and keep SysWow64 empty).
void StageConsoleTools() {
  for (const char* tool : {"timeout.exe", "choice.exe"}) {
    ASSERT_NO_FATAL_FAILURE(bwtest::StageSystemTool(tool));
  }
}

void EndStrayDism() {
  const std::string kit = Kit() + "\\";
  bw::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, "dism.exe") != 0) continue;
    bw::UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                    entry.th32ProcessID));
    if (!process) continue;
    // Only the kit's own copy, which the runs start; other tests run the stand-in elsewhere.
    char image[MAX_PATH * 2] = {};
    DWORD size = sizeof image;
    if (!QueryFullProcessImageNameA(process.get(), 0, image, &size) ||
        _strnicmp(image, kit.c_str(), kit.size()) != 0) {
      continue;
    }
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
  }
}

bool StartIsoRun(bwdrive::App& app, const std::string& exePath, const std::string& iso,
                 std::string& why, const std::string& arguments) {
  if (!app.Launch(exePath, "C:\\", kTimeout, bwtest::kStandinSwitch + " " + arguments)) {
    why = NoWindow(app);
    return false;
  }
  if (app.Text(bw::kIdStart) != "Start") {
    why = "not on the options page";
    return false;
  }
  SendMessageA(app.Control(bw::kIdIsoFile), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(iso.c_str()));
  app.Click(bw::kIdStart);
  return true;
}

std::vector<std::string> Lines(const std::string& log) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (;;) {
    const size_t end = log.find("\r\n", at);
    if (end == std::string::npos) {
      if (at < log.size()) lines.push_back(log.substr(at));
      return lines;
    }
    lines.push_back(log.substr(at, end - at));
    at = end + 2;
  }
}

void ServeDownloads(bwtest::ScopedEnv& env, const std::string& base) {
  env.Set("BW_TEST_PRODUCT_URL", base + "standins/Txb6Inst.exe");
  env.Set("BW_TEST_ADK_URL", base + "standins/adksetup.exe");
  env.Set("BW_TEST_WINPE_URL", base + "standins/adkwinpesetup.exe");
  env.Set("BW_WORKER_SOURCE", Standin("TXBWorker.exe"));
  // The run looks in both registry views; under WOW64 they are two keys.
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_32KEY, 0);
}

bool Idle(const bwdrive::App& app, std::string& why) {
  why.clear();
  if (!app.Enabled(bw::kIdStart)) why += "Start disabled; ";
  if (app.Enabled(bw::kIdCancel)) why += "Cancel enabled; ";
  if (!IsWindowEnabled(app.Control(bw::kIdOptions))) why += "options disabled; ";
  if (SendMessageA(app.Control(bw::kIdProgress), PBM_GETPOS, 0, 0) != 0) {
    why += "progress bar not at its minimum; ";
  }
  return why.empty();
}

}  // namespace machine
