// The Start run: one click on the options page makes one recovery medium.
#pragma once

#include <windows.h>

#include <string>

#include "pipeline/TaskFields.h"

namespace bw {

// The window as the Start run sees it: its host operations and the state it reads and sets.
class RunHost {
 public:
  virtual ~RunHost() = default;
  virtual void AddLog(const std::string& text) = 0;
  virtual void DownloadFile(const std::string& url, int weight) = 0;
  virtual void RunCommand(const std::string& commandLine, int weight, WORD showWindow) = 0;
  virtual void Unlock() = 0;
  virtual TaskFields& Fields() = 0;

  virtual int StartTag() = 0;         // bStart.Tag: 0 options page, otherwise agreement page
  virtual bool UsbSelected() = 0;     // rUSB
  virtual bool IsoSelected() = 0;     // rIso
  virtual std::string UsbDriveText() = 0;  // as USBDrive shows the selected drive
  virtual char UsbDriveLetter() = 0;  // upper case
  virtual std::string IsoFileText() = 0;
  virtual int ImageTypeIndex() = 0;   // cbImageType.ItemIndex
  // The reformat warning (Yes/No, warning icon, caption "Warning", owned by the window);
  // false only for No.
  virtual bool ConfirmReformat(const std::string& text) = 0;
  virtual void SetStartEnabled(bool enabled) = 0;
  virtual void SetCancelEnabled(bool enabled) = 0;
  virtual void SetOptionsEnabled(bool enabled) = 0;
  virtual void ClearLog() = 0;
  virtual void ResetProgress() = 0;  // pb to its minimum
};

void bStartClick(RunHost& host);

std::string GetSpecialFolder(int csidl);

}  // namespace bw
