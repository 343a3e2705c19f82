// The Start run: one click on the options page makes one recovery medium.
#pragma once

#include <windows.h>

#include <string>

#include "pipeline/TaskFields.h"
#include "support/Handles.h"

namespace bw {

// Where an installer is downloaded from, and who must have signed it.
struct DownloadSource {
  std::string url;
  std::string publisher;  // the signer certificate's name
};

struct DownloadSources {
  DownloadSource product;
  DownloadSource deploymentTools;
  DownloadSource winPE;
};

// The addresses the program downloads from.
const DownloadSources& FixedDownloadSources();

// The window as the Start run sees it: its host operations and the state it reads and sets.
class RunHost {
 public:
  virtual ~RunHost() = default;
  virtual void AddLog(const std::string& text) = 0;
  virtual void DownloadFile(const std::string& url, int weight, const std::string& publisher) = 0;
  virtual void RunCommand(const std::string& commandLine, int weight, WORD showWindow) = 0;
  virtual void Unlock() = 0;
  virtual TaskFields& Fields() = 0;

  virtual int StartTag() = 0;              // bStart.Tag: 0 options page, otherwise agreement page
  virtual bool UsbSelected() = 0;          // rUSB
  virtual bool IsoSelected() = 0;          // rIso
  virtual std::string UsbDriveText() = 0;  // as USBDrive shows the selected drive
  virtual char UsbDriveLetter() = 0;       // upper case
  virtual std::string IsoFileText() = 0;
  virtual int ImageTypeIndex() = 0;  // cbImageType.ItemIndex
  // False with /nohostdrivers.
  virtual bool HostDriversWanted() = 0;
  // The reformat warning (Yes/No, warning icon, caption "Warning", owned by the window);
  // false only for No.
  virtual bool ConfirmReformat(const std::string& text) = 0;
  virtual void SetStartEnabled(bool enabled) = 0;
  virtual void SetCancelEnabled(bool enabled) = 0;
  virtual void SetOptionsEnabled(bool enabled) = 0;
  virtual void ClearLog() = 0;
  virtual void ResetProgress() = 0;  // pb to its minimum
  // The log's text into the folder, as WriteRunLog writes it; never raises.
  virtual void SaveRunLog(const std::string& folder) = 0;
};

struct WindowsVersion {
  DWORD platformId = 0;
  DWORD major = 0;
  DWORD minor = 0;
};

// What the run asks of the machine it runs on, apart from files, registry and children.
class SystemProbe {
 public:
  virtual ~SystemProbe() = default;
  // The machine-wide lock of a run, which every window shares; empty while another run
  // holds it.
  virtual UniqueMutexHold TakeRunLock() const;
  virtual WindowsVersion Version() const;        // GetVersionExA
  virtual std::string WindowsDirectory() const;  // GetWindowsDirectoryA
  virtual bool IsWow64() const;                  // a 32-bit process on 64-bit Windows
  virtual WORD NativeMachine() const;            // IMAGE_FILE_MACHINE_* of the machine itself
  // RtlGetVersion's, which no manifest caps as GetVersionExA's is; 0 when unknown.
  virtual DWORD BuildNumber() const;
};

// The running machine itself.
const SystemProbe& RealSystem();

void bStartClick(RunHost& host);
void bStartClick(RunHost& host, const SystemProbe& system);
void bStartClick(RunHost& host, const SystemProbe& system, const DownloadSources& sources);

// SHGetSpecialFolderPathA with the create flag; empty on failure.
std::string GetSpecialFolder(int csidl);

// Saves the module's RCDATA resource `name` unchanged as workDir\name.
void ExtractResource(const std::string& workDir, const std::string& name);

// The kit's media writer copies its template wrongly on Windows 7; mends it in place there.
// Never raises.
void PatchMakeWinPEMedia(const std::string& path);
void PatchMakeWinPEMedia(const std::string& path, const SystemProbe& system);

// True when the first three numbers of "a.b.c.d" are above 6.1.5.
bool WorkerVersionAccepted(const std::string& version);

// True when the folder or one below it holds a .inf file that cmd's `for /r` sees (hidden and
// system files it passes over).
bool HoldsDriverPackage(const std::string& folder);

// The run's log as Bootwright.log in the folder, CR LF line ends; the file of the run before
// becomes Bootwright.previous.log. Nothing when the folder is missing, or when the run before
// could not be kept; never raises.
void WriteRunLog(const std::string& folder, const std::string& text);

// Enclosed in double quotes, inner double quotes doubled.
std::string QuotedString(const std::string& text);

}  // namespace bw
