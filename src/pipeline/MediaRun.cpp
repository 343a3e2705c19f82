#include "pipeline/MediaRun.h"

#include <shlobj.h>

#include <cstring>
#include <exception>
#include <vector>

#include "pipeline/HostDrivers.h"
#include "support/Errors.h"
#include "support/Files.h"
#include "support/Handles.h"
#include "support/MachineLock.h"
#include "support/Paths.h"
#include "support/Registry.h"
#include "support/Versions.h"
#include "support/startup/ModuleEntries.h"
#include "support/startup/Wow64.h"

#ifndef BOOTWRIGHT_UPDATE_HOST
#error "BOOTWRIGHT_UPDATE_HOST names the maker's update server; the build defines it"
#endif

namespace bw {

namespace {

const char kProductInstallerUrl[] = "http://" BOOTWRIGHT_UPDATE_HOST "/download/Txb6Inst.exe";
const char kDeploymentToolsUrl[] =
    "https://download.microsoft.com/download/8/6/c/86c218f3-4349-4aa5-beba-d05e48bbc286/adk/"
    "adksetup.exe";
const char kWinPEUrl[] =
    "https://download.microsoft.com/download/E/F/A/EFA17CF0-7140-4E92-AC0A-D89366EBD79E/"
    "adkwinpeaddons/adkwinpesetup.exe";
const char kProductPublisher[] = "Tessel Software";
const char kKitPublisher[] = "Microsoft Corporation";

const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessel Backup System_is1";
const char kKitRoot[] = "Assessment and Deployment Kit";

// Every run works in the same folders; two at once would undo each other's image.
const char kRunLockName[] = "Tessel Bootwright media run";
const char kAnotherRun[] =
    "Another Bootwright window is making a medium. Start again when it has finished.";
const char kUnexpectedError[] = "Unexpected error.";

// The kit's installers answer 2008 when they will not install silently; the user then
// finishes the same installation in the installer's own window.
constexpr DWORD kInstallRefusedSilently = 2008;

const char kTemplateCopy[] = R"(xcopy /herky "%WORKINGDIR%\%TEMPL%" "%DEST%\" >NUL)";
const char kTemplateCopyFixed[] = R"(xcopy /herky "%WORKINGDIR%\%TEMPL%\*.*" "%DEST%\*.*" >NUL)";

std::string WithoutTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

bool SameText(std::string a, std::string b) {
  if (a.size() != b.size()) return false;
  if (!a.empty()) {
    CharUpperBuffA(a.data(), static_cast<DWORD>(a.size()));
    CharUpperBuffA(b.data(), static_cast<DWORD>(b.size()));
  }
  return a == b;
}

// Characters that no file name may hold, or that cmd.exe acts on even between quotes. Trail
// bytes of double-byte characters are not characters of their own and are skipped.
bool UnsafeForScript(const std::string& path) {
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c < 0x20 || std::strchr("\"<>|*?%^", c) != nullptr) return true;
  }
  return false;
}

// "X:\..." or "\\server\share\...": a path that names its place without a current folder.
bool IsAbsolutePath(const std::string& path) {
  const auto slash = [](char c) { return c == '\\' || c == '/'; };
  const char drive = static_cast<char>(path.empty() ? 0 : path[0] | 0x20);
  if (path.size() >= 3 && drive >= 'a' && drive <= 'z' && path[1] == ':' && slash(path[2])) {
    return true;
  }
  if (path.size() < 5 || !slash(path[0]) || !slash(path[1])) return false;
  const size_t share = path.find_first_of("\\/", 2);
  return share != std::string::npos && share > 2 && share + 1 < path.size() &&
         !slash(path[share + 1]);
}

// The folder part with its closing backslash, which a drive's or share's root needs. A trail
// byte of a double-byte character may equal a backslash and is skipped.
std::string FolderOf(const std::string& path) {
  size_t end = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
    } else if (path[i] == '\\' || path[i] == '/') {
      end = i + 1;
    }
  }
  return path.substr(0, end);
}

// The text as a list of lines would hold it: CR, LF and CR LF all end a line, and every line,
// the last one too, ends with CR LF.
std::string WithCrLfLines(const std::string& text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  size_t i = 0;
  while (i < text.size()) {
    const size_t end = text.find_first_of("\r\n", i);
    if (end == std::string::npos) {
      result.append(text, i, std::string::npos);
      result += "\r\n";
      break;
    }
    result.append(text, i, end - i);
    result += "\r\n";
    i = end + 1;
    if (text[end] == '\r' && i < text.size() && text[i] == '\n') ++i;
  }
  return result;
}

std::string WorkingFolder() {
  return JoinPath({GetSpecialFolder(CSIDL_PROGRAM_FILES), "Tessel Software", "Bootwright"});
}

std::string KitPath(const std::string& workDir, const char* part, const char* file) {
  return JoinPath({workDir, "ADK", kKitRoot, part, file});
}

struct KitPart {
  const char* marker[2];  // below the kit's root
  const char* missing;
  DownloadSource DownloadSources::*source;
  const char* installing;
  const char* features;
  int weight;
  const char* manual;
};

const KitPart kDeploymentTools = {
    {"Deployment Tools", "DandISetEnv.bat"},
    "Windows Assessment and Deployment Kit (ADK) is missing.",
    &DownloadSources::deploymentTools,
    "Installing Windows Assessment and Deployment Kit (ADK)...",
    "/features OptionId.DeploymentTools /installpath \"%S\"",
    60,
    "Cannot install ADK automatically. Try install it manually but don't change any options.",
};

const KitPart kWinPE = {
    {"Windows Preinstallation Environment", "copype.cmd"},
    "Windows Preinstallation Environment (WinPE) is missing.",
    &DownloadSources::winPE,
    "Installing Windows Preinstallation Environment (WinPE). Up to 5 GB must be downloaded. "
    "It may take a few minutes...",
    "/features OptionId.WindowsPreinstallationEnvironment /installpath \"%S\"",
    1200,
    "Cannot install WinPE automatically. Try install it manually but don't change any options.",
};

std::string ReplaceS(const std::string& format, const std::string& value) {
  std::string result = format;
  const size_t at = result.find("%S");
  if (at != std::string::npos) result.replace(at, 2, value);
  return result;
}

// A kit installer that asks for a restart has installed all the same; the restart can wait.
// One that has started the restart itself leaves no time for a build.
void RunKitInstaller(RunHost& host, const std::string& command, int weight, WORD showWindow) {
  try {
    host.RunCommand(command, weight, showWindow);
  } catch (const EOSError& e) {
    if (e.ErrorCode == ERROR_SUCCESS_REBOOT_INITIATED) {
      const std::string& installer = host.Fields().DownloadedFile;
      throw Exception(installer.substr(installer.find_last_of('\\') + 1) +
                      " has started a restart of Windows. Start Bootwright again when Windows "
                      "is back.");
    }
    if (e.ErrorCode != ERROR_SUCCESS_REBOOT_REQUIRED) throw;
    host.AddLog(
        "Installation finished; Windows asks for a restart, which can wait until the medium is "
        "made.");
  }
}

void InstallKitPart(RunHost& host, const std::string& workDir, const KitPart& part,
                    const DownloadSources& sources) {
  if (FileExists(KitPath(workDir, part.marker[0], part.marker[1]))) return;
  host.AddLog(part.missing);
  const DownloadSource& source = sources.*part.source;
  host.DownloadFile(source.url, 10, source.publisher);
  host.AddLog(part.installing);
  const std::string command = QuotedString(host.Fields().DownloadedFile) + " " +
                              ReplaceS(part.features, JoinPath({workDir, "ADK"}));
  bool interactive = false;
  try {
    RunKitInstaller(host, command + " /q", part.weight, SW_HIDE);
  } catch (const EOSError& e) {
    if (e.ErrorCode != kInstallRefusedSilently) throw;
    interactive = true;
  }
  if (interactive) {
    host.AddLog(part.manual);
    RunKitInstaller(host, command, part.weight, SW_SHOW);
  }
}

// The medium runs only programs of its own architecture (Windows PE has no WOW64): a worker of
// the other kind would be staged, the build would say DONE!, and the recovery could not start.
void CheckWorkerRuns(const std::string& worker, bool amd64) {
  const WORD machine = ProgramMachine(worker);
  const std::string file = "The backup worker " + worker;
  if (machine == IMAGE_FILE_MACHINE_AMD64 && !amd64) {
    throw Exception(file +
                    " is a 64-bit program; a 32-bit medium cannot start it. Start Bootwright "
                    "with /amd64.");
  }
  if (machine == IMAGE_FILE_MACHINE_I386 && amd64) {
    throw Exception(file +
                    " is a 32-bit program; a 64-bit medium cannot start it. Start Bootwright "
                    "without /amd64.");
  }
  if (machine != IMAGE_FILE_MACHINE_AMD64 && machine != IMAGE_FILE_MACHINE_I386) {
    throw Exception(file + " is not a Windows program.");
  }
}

void StageWorker(RunHost& host, const std::string& workDir, const DownloadSources& sources,
                 bool amd64) {
  const std::string workerDir = JoinPath({workDir, "TXB"});
  CheckLastError(ForceDirectories(workerDir), workerDir);
  const std::string worker = JoinPath({workerDir, "TXBWorker.exe"});

  // A 64-bit installation is invisible in this 32-bit program's own view.
  std::string installed =
      ReadRegistryString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation", KEY_WOW64_64KEY);
  if (installed.empty()) {
    installed =
        ReadRegistryString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation", KEY_WOW64_32KEY);
  }
  if (!installed.empty() &&
      !SameText(WithoutTrailingBackslash(installed), WithoutTrailingBackslash(workerDir))) {
    for (const char* name : {"TXBWorker.exe", "TXBWorker.ex_"}) {
      const std::string source = JoinPath({installed, name});
      if (!FileExists(source)) continue;
      // The copy keeps the source's attributes; a read-only copy would refuse the next run's.
      const DWORD attributes = GetFileAttributesA(worker.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesA(worker.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      }
      CheckLastError(CopyFileA(source.c_str(), worker.c_str(), FALSE), source);
      break;
    }
  }

  if (!FileExists(worker)) {
    host.AddLog("TXB Worker is missing.");
    host.DownloadFile(sources.product.url, 30, sources.product.publisher);
    host.AddLog("Installing Tessel Backup System - Worker (TXB Worker)...");
    host.RunCommand(QuotedString(host.Fields().DownloadedFile) + " " +
                        ReplaceS("/SP- /verysilent /noicons /LOG /COMPONENTS=\"TXB_Worker\" "
                                 "/dir=\"%S\"",
                                 workerDir),
                    20, SW_HIDE);
  }

  const std::string version = GetFileVersionString(worker);
  CheckCode(WorkerVersionAccepted(version), ERROR_NOT_SUPPORTED,
            "TXB Worker is too old (" + version + ")");
  CheckWorkerRuns(worker, amd64);
}

char DriveLetter(RunHost& host) {
  const char letter = host.UsbDriveLetter();
  return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

// What the build writes to, read once: the value that was checked is the value that is used.
struct Target {
  bool iso = false;
  std::string isoFile;
  char drive = 0;
};

// Refuses targets that must never reach the build script, before anything is written.
Target CheckTarget(RunHost& host, const SystemProbe& system) {
  Target target;
  target.iso = host.IsoSelected();
  if (target.iso) {
    target.isoFile = host.IsoFileText();
    CheckCode(!UnsafeForScript(target.isoFile), ERROR_INVALID_NAME, target.isoFile);
    if (!target.isoFile.empty()) {
      // The script would resolve a relative path inside the kit's folder; and the elevated
      // program may not see a folder that the user sees (a drive mapped only for the user).
      CheckCode(IsAbsolutePath(target.isoFile), ERROR_BAD_PATHNAME, target.isoFile);
      CheckCode(FolderExists(FolderOf(target.isoFile)), ERROR_PATH_NOT_FOUND, target.isoFile);
    }
    return target;
  }
  target.drive = DriveLetter(host);
  // Without a drive letter the script would be handed a target it cannot tell from none.
  CheckCode(target.drive >= 'A' && target.drive <= 'Z', ERROR_INVALID_DRIVE, host.UsbDriveText());
  const std::string windows = system.WindowsDirectory();
  const bool systemDrive = windows.size() >= 2 && windows[1] == ':' &&
                           SameText(windows.substr(0, 1), std::string(1, target.drive));
  CheckCode(!systemDrive, ERROR_NOT_SUPPORTED,
            std::string(1, target.drive) + ": holds the running Windows and cannot be reformatted");
  return target;
}

void MakeMedium(RunHost& host, const SystemProbe& system, const DownloadSources& sources) {
  const WindowsVersion version = system.Version();
  CheckCode(version.platformId >= VER_PLATFORM_WIN32_NT &&
                ((version.major == 6 && version.minor >= 1) || version.major > 6),
            ERROR_OLD_WIN_VERSION, "(Windows 7+ or Windows Server 2008 R2+)");
  const Target target = CheckTarget(host, system);

  TaskFields& fields = host.Fields();
  fields.WorkDir = WorkingFolder();
  const std::string workDir = fields.WorkDir;
  CheckLastError(ForceDirectories(workDir), workDir);
  for (const char* name : {"bwrs.bat", "winpe.jpg", "startnet.cmd"}) {
    ExtractResource(workDir, name);
  }

  StageWorker(host, workDir, sources, host.ImageTypeIndex() == 0);
  InstallKitPart(host, workDir, kDeploymentTools, sources);
  InstallKitPart(host, workDir, kWinPE, sources);

  // The build script looks for drivers in the same folder on its own.
  const bool amd64 = host.ImageTypeIndex() == 0;
  const std::string drivers = JoinPath({workDir, "Drivers", amd64 ? "amd64" : "x86"});
  // This computer's own drivers fit only a medium of its own architecture. They are not the
  // user's, and an earlier run's may be out of date.
  const std::string own = JoinPath({drivers, "This computer"});
  const bool native =
      system.NativeMachine() == (amd64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
  if (native) TryRemoveTree(own);
  const bool userDrivers = HoldsDriverPackage(drivers);
  const int ownDrivers =
      native && host.HostDriversWanted() ? ExportHostDrivers(host, system, own) : 0;
  if (userDrivers) host.AddLog("Adding the drivers in " + drivers + " to the image.");
  if (ownDrivers > 0) {
    host.AddLog("Adding this computer's storage and network drivers (" +
                std::to_string(ownDrivers) + ") to the image.");
  }
  host.AddLog("Creating the boot image....");
  std::string arguments;
  if (target.iso) {
    arguments = " ISO " + QuotedString(target.isoFile);
  } else {
    arguments = " USB " + QuotedString(std::string(1, target.drive) + ":");
    PatchMakeWinPEMedia(
        KitPath(workDir, "Windows Preinstallation Environment", "MakeWinPEMedia.cmd"), system);
  }
  arguments += amd64 ? " amd64" : " x86";
  std::string command = QuotedString(JoinPath({workDir, "bwrs.bat"})) + arguments;
  if (system.IsWow64()) {
    // The 32-bit interpreter would hand the kit's tools SysWOW64 for system32. With more than
    // two quotes, cmd /c drops only the outer pair and keeps the inner ones. /d: no AutoRun
    // command of the registry runs inside the elevated build.
    command = QuotedString(JoinPath({system.WindowsDirectory(), "Sysnative", "cmd.exe"})) +
              " /d /c \"" + command + "\"";
  }
  host.RunCommand(command, 600, SW_HIDE);
}

void BackToIdle(RunHost& host) {
  host.ResetProgress();
  host.SetStartEnabled(true);
  host.SetCancelEnabled(false);
  host.SetOptionsEnabled(true);
}

// A run that never made the working folder leaves no log file.
void SaveRunLog(RunHost& host) {
  const std::string folder = WorkingFolder();
  if (FolderExists(folder)) host.SaveRunLog(folder);
}

}  // namespace

UniqueMutexHold SystemProbe::TakeRunLock() const { return TakeMachineLock(kRunLockName); }

WindowsVersion SystemProbe::Version() const {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return {};
  return {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

std::string SystemProbe::WindowsDirectory() const {
  char buffer[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(buffer, length);
}

bool SystemProbe::IsWow64() const {
  if (!pIsWow64Process) InitWow64();
  return bw::IsWow64();
}

WORD SystemProbe::NativeMachine() const { return bw::NativeMachine(); }

DWORD SystemProbe::BuildNumber() const {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtlGetVersion = LoadedEntry<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!rtlGetVersion || rtlGetVersion(&info) != 0) return 0;
  return info.dwBuildNumber;
}

const SystemProbe& RealSystem() {
  static const SystemProbe system;
  return system;
}

const DownloadSources& FixedDownloadSources() {
  static const DownloadSources sources = {
      {kProductInstallerUrl, kProductPublisher},
      {kDeploymentToolsUrl, kKitPublisher},
      {kWinPEUrl, kKitPublisher},
  };
  return sources;
}

void bStartClick(RunHost& host) { bStartClick(host, RealSystem()); }

void bStartClick(RunHost& host, const SystemProbe& system) {
  bStartClick(host, system, FixedDownloadSources());
}

void bStartClick(RunHost& host, const SystemProbe& system, const DownloadSources& sources) {
  // Any flag but 0 means the agreement page: the click only accepts the agreement.
  if (host.StartTag() != 0) {
    host.Unlock();
    return;
  }
  if (host.UsbSelected() &&
      !host.ConfirmReformat("This command reformats the drive " + host.UsbDriveText() +
                            "\r\n\r\nDo you want to continue?")) {
    return;
  }

  host.SetStartEnabled(false);
  host.SetCancelEnabled(true);
  host.SetOptionsEnabled(false);
  TaskFields& fields = host.Fields();
  fields.CancelRequested = false;
  fields.TaskHandle = nullptr;
  host.ClearLog();

  UniqueMutexHold lock;  // held until the window is idle again
  try {
    lock = system.TakeRunLock();
    if (!lock) {
      host.AddLog(kAnotherRun);
      BackToIdle(host);
      return;
    }
    MakeMedium(host, system, sources);
  } catch (const Exception& e) {
    host.AddLog(e.Message());
  } catch (const std::exception& e) {
    // Not of our family (out of memory, say): still one line, never an error box.
    host.AddLog(*e.what() ? e.what() : kUnexpectedError);
  } catch (...) {
    host.AddLog(kUnexpectedError);
  }
  BackToIdle(host);
  SaveRunLog(host);
}

std::string GetSpecialFolder(int csidl) {
  char buffer[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathA(nullptr, buffer, csidl, TRUE)) return {};
  return buffer;
}

void ExtractResource(const std::string& workDir, const std::string& name) {
  const HMODULE module = GetModuleHandleA(nullptr);
  const HRSRC resource = CheckLastError(FindResourceA(module, name.c_str(), RT_RCDATA), name);
  const HGLOBAL loaded = CheckLastError(LoadResource(module, resource), name);
  const DWORD size = SizeofResource(module, resource);
  const void* data = size != 0 ? CheckLastError(LockResource(loaded), name) : nullptr;
  WriteWholeFile(JoinPath({workDir, name}),
                 size != 0 ? std::string(static_cast<const char*>(data), size) : std::string());
}

void PatchMakeWinPEMedia(const std::string& path) { PatchMakeWinPEMedia(path, RealSystem()); }

void PatchMakeWinPEMedia(const std::string& path, const SystemProbe& system) {
  try {
    const WindowsVersion version = system.Version();
    if (version.major != 6 || version.minor != 1) return;
    std::string text = WithCrLfLines(ReadWholeFile(path));
    const size_t at = text.find(kTemplateCopy);
    if (at == std::string::npos) return;
    text.replace(at, std::strlen(kTemplateCopy), kTemplateCopyFixed);
    WriteWholeFile(path, text);
  } catch (...) {
    // A kit that cannot be mended is built with as it is.
  }
}

bool WorkerVersionAccepted(const std::string& version) {
  unsigned long parts[3] = {0, 0, 0};
  size_t i = 0;
  for (unsigned long& part : parts) {
    while (i < version.size() && version[i] >= '0' && version[i] <= '9') {
      if (part < 1000000) part = part * 10 + static_cast<unsigned long>(version[i] - '0');
      ++i;
    }
    if (i < version.size() && version[i] == '.')
      ++i;
    else
      break;
  }
  const unsigned long limit[3] = {6, 1, 5};
  for (int k = 0; k < 3; ++k) {
    if (parts[k] != limit[k]) return parts[k] > limit[k];
  }
  return false;
}

bool HoldsDriverPackage(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  UniqueFindHandle find(FindFirstFileA(JoinPath({folder, "*"}).c_str(), &entry));
  if (!find) return false;
  do {
    const std::string name = entry.cFileName;
    const DWORD attributes = entry.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction may lead back up the tree.
      if (name != "." && name != ".." && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
          HoldsDriverPackage(JoinPath({folder, name}))) {
        return true;
      }
    } else if (!(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) &&
               name.size() >= 4 && SameText(name.substr(name.size() - 4), ".inf")) {
      return true;
    }
  } while (FindNextFileA(find.get(), &entry));
  return false;
}

void WriteRunLog(const std::string& folder, const std::string& text) {
  try {
    if (!FolderExists(folder)) return;
    const std::string log = JoinPath({folder, "Bootwright.log"});
    const std::string previous = JoinPath({folder, "Bootwright.previous.log"});
    const std::string fresh = JoinPath({folder, "Bootwright.log.new"});
    // Whole before anything moves, and only renames after: whatever fails or stops between two
    // steps, the run before stays in one of the two files.
    if (!TryWriteWholeFile(fresh, WithCrLfLines(text)) ||
        (FileExists(log) &&
         !MoveFileExA(log.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING))) {
      DeleteFileA(fresh.c_str());
      return;
    }
    MoveFileExA(fresh.c_str(), log.c_str(), MOVEFILE_REPLACE_EXISTING);
  } catch (...) {
    // The file is for later reading; the run's outcome never depends on it.
  }
}

std::string QuotedString(const std::string& text) {
  std::string result = "\"";
  for (char c : text) {
    if (c == '"') result += '"';
    result += c;
  }
  return result + "\"";
}

}  // namespace bw
