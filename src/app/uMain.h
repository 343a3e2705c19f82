// The wizard window: the agreement page, then the options page from which a run starts.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "app/AppRules.h"
#include "app/FormStorage.h"
#include "pipeline/LongTasks.h"
#include "pipeline/MediaRun.h"
#include "pipeline/TaskFields.h"

namespace bw {

class TForm1 final : public RunHost, public TaskView {
 public:
  static constexpr const char* kClassName = "TForm1";
  static constexpr const char* kCaption = "Tessel Backup System - Bootwright";
  static constexpr int kClientWidth = 580;
  static constexpr int kClientHeight = 394;

  // The run downloads from `sources`: the fixed addresses, unless a test gives its own.
  // `amd64` selects the 64-bit image type; `hostDrivers` false keeps this computer's drivers
  // off the medium.
  explicit TForm1(const DownloadSources& sources = FixedDownloadSources(), bool amd64 = false,
                  bool hostDrivers = true);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Registers the classes and makes the window with its components, hidden.
  void Create(HINSTANCE instance);
  void Show();
  HWND Handle() const { return hwnd_; }

  // RunHost
  void AddLog(const std::string& text) override { tasks_.AddLog(text); }
  void DownloadFile(const std::string& url, int weight, const std::string& publisher) override {
    tasks_.DownloadFile(url, weight, publisher);
  }
  void RunCommand(const std::string& commandLine, int weight, WORD showWindow) override {
    tasks_.RunCommand(commandLine, weight, showWindow);
  }
  void Unlock() override;
  TaskFields& Fields() override { return fields_; }
  int StartTag() override { return startTag_; }
  bool UsbSelected() override;
  bool IsoSelected() override;
  std::string UsbDriveText() override;
  char UsbDriveLetter() override;
  std::string IsoFileText() override;
  int ImageTypeIndex() override;
  bool HostDriversWanted() override { return hostDrivers_; }
  bool ConfirmReformat(const std::string& text) override;
  void SetStartEnabled(bool enabled) override;
  void SetCancelEnabled(bool enabled) override;
  void SetOptionsEnabled(bool enabled) override;
  void ClearLog() override;
  void ResetProgress() override;
  void SaveRunLog(const std::string& folder) override;

  // TaskView
  void LogAddLine(const std::string& text) override;
  void LogScrollToEnd() override;
  void ProcessMessages() override;
  int ProgressMin() override;
  int ProgressMax() override;
  void ProgressSetMax(int max) override;
  int ProgressPosition() override;
  void ProgressSetPosition(int position) override;
  void ProgressStepIt() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK LogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                  DWORD_PTR data);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  void CreateComponents();
  HWND MakeChild(HWND parent, const char* cls, const char* text, DWORD style, DWORD exStyle, int x,
                 int y, int w, int h, int id);
  void FillDriveList();
  void LoadDriveIcons();
  void FormCreate();
  void RestoreState();
  void FormStorage1RestorePlacement();
  void SaveState();  // state_ says whether and when
  void OnCommand(int id, int code);
  void OnClose();
  void bStartClick();
  void BrowseIsoFolder();
  void ISOFileAfterDialog(std::string& name, bool& action);
  void LayoutLog();
  // Runs an event handler; what escapes it is shown in an error box (an abort is not).
  template <typename F>
  void Guarded(F&& handler);
  void ShowError(const std::string& message);

  // Components, in creation order.
  HWND hwnd_ = nullptr;
  HWND mLog = nullptr;
  HWND pOptions = nullptr;
  HWND Label1 = nullptr;
  HWND rIso = nullptr;
  HWND USBDrive = nullptr;
  HWND ISOFile = nullptr;
  HWND ISOFileButton = nullptr;
  HWND rUSB = nullptr;
  HWND cbImageType = nullptr;
  HWND Panel1 = nullptr;
  HWND pb = nullptr;
  HWND bStart = nullptr;
  HWND bCancel = nullptr;
  std::optional<FormStorage> FormStorage1;

  TaskFields fields_;
  LongTasks tasks_;
  const DownloadSources& sources_;

  HINSTANCE instance_ = nullptr;
  HFONT font_ = nullptr;
  int startTag_ = 1;
  std::vector<DriveEntry> drives_;
  bool logEndsWithBreak_ = true;
  WindowState state_;  // what a run, a close and the store allow now (AppRules.h)
  bool comInitialized_ = false;
  bool amd64_ = false;
  bool hostDrivers_ = true;
};

// The window's title for message boxes: the program file's name without extension.
std::string ApplicationTitle();

extern const char* const kAgreementText;

}  // namespace bw
