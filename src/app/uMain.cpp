#include "app/uMain.h"

#include <richedit.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>

#include "app/ControlIds.h"
#include "support/Errors.h"
#include "support/Files.h"
#include "support/SystemDlls.h"
#include "support/Versions.h"

namespace bw {

namespace {

constexpr const char* kPanelClass = "TPanel";
constexpr UINT kLoadDriveIcons = WM_APP + 1;
constexpr int kOptionsHeight = 97;
constexpr int kPanel1Height = 50;
constexpr const char* kIsoFileDefault = "C:\\TXBRecovery.iso";

std::string ModulePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n);
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

DriveInfo ProbeDrive(char letter) {
  const std::string root = std::string(1, letter) + ":\\";
  DriveInfo info;
  info.type = GetDriveTypeA(root.c_str());
  if (info.type == DRIVE_FIXED || info.type == DRIVE_CDROM || info.type == DRIVE_RAMDISK) {
    char label[MAX_PATH + 1] = {};
    // A drive without a medium has no label; it is still listed.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    if (GetVolumeInformationA(root.c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, nullptr,
                              0)) {
      info.label = label;
    }
    SetErrorMode(oldMode);
  } else if (info.type == DRIVE_REMOTE) {
    const std::string local = std::string(1, letter) + ":";
    char remote[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    if (sys::WNetGetConnectionA(local.c_str(), remote, &size) == NO_ERROR) info.remoteName = remote;
  }
  return info;
}

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED) SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

struct CoTaskMemDeleter {
  void operator()(void* p) const { CoTaskMemFree(p); }
};

}  // namespace

const char* const kAgreementText =
    "Tessel Backup System - Bootwright: End-User Licence Agreement for Freeware\r\n"
    "\r\n"
    "1. Who is bound by this agreement\r\n"
    "This agreement is made between you, the person or organisation that installs or uses\r\n"
    "Bootwright, and Tessel Software, its maker. By pressing \"I Agree\" you accept it.\r\n"
    "If you do not accept it, close this window and do not use the program.\r\n"
    "\r\n"
    "2. Free use and redistribution\r\n"
    "You may use Bootwright free of charge, at home, at work and in any organisation, on as\r\n"
    "many computers as you like. You may copy it and pass it on to others, provided that you\r\n"
    "pass it on whole and unchanged, charge nothing for it and keep this agreement with it.\r\n"
    "You may not sell, rent, modify, decompile or disassemble it.\r\n"
    "The recovery media it makes may be used and copied freely.\r\n"
    "\r\n"
    "3. No warranty, no liability\r\n"
    "Bootwright is provided \"as is\", without warranty of any kind, express or implied,\r\n"
    "including fitness for a particular purpose. Making a medium erases the target drive:\r\n"
    "check your choice before you start. In no event shall Tessel Software be liable for\r\n"
    "any loss of data, profit or business, or for any other damage, that arises from the\r\n"
    "use of Bootwright or from being unable to use it, even when it was told of the\r\n"
    "possibility of such damage.\r\n"
    "You use Bootwright at your own risk.";

std::string ApplicationTitle() {
  return StorageRootKey(ModulePath()).substr(sizeof("Software\\") - 1);
}

TForm1::TForm1(const DownloadSources& sources, bool amd64, bool hostDrivers)
    : tasks_(fields_, *this), sources_(sources), amd64_(amd64), hostDrivers_(hostDrivers) {}

TForm1::~TForm1() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (font_) DeleteObject(font_);
  if (comInitialized_) CoUninitialize();
}

void TForm1::Create(HINSTANCE instance) {
  instance_ = instance;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  CheckLastError(RegisterClassExA(&wc), kClassName);
  wc.lpfnWndProc = PanelProc;
  wc.lpszClassName = kPanelClass;
  wc.hIcon = nullptr;
  CheckLastError(RegisterClassExA(&wc), kPanelClass);

  font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT rect = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  CheckLastError(CreateWindowExA(exStyle, kClassName, kCaption, style, x, y, width, height, nullptr,
                                 nullptr, instance, this),
                 kClassName);
  CreateComponents();
  FormCreate();
}

void TForm1::Show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  PostMessageA(hwnd_, kLoadDriveIcons, 0, 0);
}

HWND TForm1::MakeChild(HWND parent, const char* cls, const char* text, DWORD style, DWORD exStyle,
                       int x, int y, int w, int h, int id) {
  HWND child = CheckLastError(
      CreateWindowExA(exStyle, cls, text, WS_CHILD | style, x, y, w, h, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr),
      cls);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return child;
}

void TForm1::CreateComponents() {
  mLog = MakeChild(hwnd_, RICHEDIT_CLASSA, "",
                   WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                       ES_AUTOVSCROLL | ES_DISABLENOSCROLL,
                   0, 0, 0, kClientWidth, kClientHeight - kPanel1Height, kIdLog);
  SendMessageA(mLog, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
  sys::SetWindowSubclass(mLog, LogProc, 1, 0);
  SendMessageA(mLog, EM_EXLIMITTEXT, 0, 0x7FFFFFF0);
  SendMessageA(mLog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kAgreementText));
  logEndsWithBreak_ = false;

  pOptions = MakeChild(hwnd_, kPanelClass, "", WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 0, 0,
                       kClientWidth, kOptionsHeight, kIdOptions);
  Label1 = MakeChild(pOptions, "STATIC", "Image type", SS_LEFT, 0, 8, 8, 52, 13, kIdLabel1);
  rIso = MakeChild(pOptions, "BUTTON", "Create a bootable DVD/CD ISO file",
                   WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_RADIOBUTTON, 0, 8, 32, 201, 17, kIdIso);
  SendMessageA(rIso, BM_SETCHECK, BST_CHECKED, 0);
  // The list's own height is set by its font; the rest is the drop-down part.
  USBDrive = MakeChild(pOptions, WC_COMBOBOXEXA, "",
                       WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 206,
                       56, 363, 240, kIdUsbDrive);
  // The browse button sits on the right end of the edit; made first, it stays above it.
  ISOFileButton = MakeChild(pOptions, "BUTTON", "...", WS_VISIBLE | BS_PUSHBUTTON, 0,
                            206 + 363 - 19, 32, 19, 19, kIdIsoFileButton);
  ISOFile = MakeChild(pOptions, "EDIT", kIsoFileDefault,
                      WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_CLIPSIBLINGS | ES_AUTOHSCROLL,
                      WS_EX_CLIENTEDGE, 206, 32, 363, 19, kIdIsoFile);
  SendMessageA(ISOFile, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, 19));
  rUSB = MakeChild(pOptions, "BUTTON", "Create a bootable USB flash drive",
                   WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_RADIOBUTTON, 0, 8, 56, 193, 17, kIdUsb);
  cbImageType = MakeChild(pOptions, "COMBOBOX", "", WS_TABSTOP | WS_GROUP | CBS_DROPDOWNLIST, 0,
                          206, 5, 363, 120, kIdImageType);
  SendMessageA(cbImageType, CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>("for 64-bit computers and virtual machines"));
  SendMessageA(cbImageType, CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>("for older 32-bit computers and virtual machines"));
  SendMessageA(cbImageType, CB_SETCURSEL, amd64_ ? 0 : 1, 0);

  Panel1 = MakeChild(hwnd_, kPanelClass, "", WS_VISIBLE | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 0,
                     kClientHeight - kPanel1Height, kClientWidth, kPanel1Height, kIdPanel1);
  pb = MakeChild(Panel1, PROGRESS_CLASSA, "", WS_VISIBLE | PBS_SMOOTH, 0, 12, 15, 397, 21,
                 kIdProgress);
  SendMessageA(pb, PBM_SETRANGE32, 0, 100);
  SendMessageA(pb, PBM_SETSTEP, 1, 0);
  bStart =
      MakeChild(Panel1, "BUTTON", "I Agree", WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON,
                0, 424, 13, 73, 25, kIdStart);
  bCancel = MakeChild(Panel1, "BUTTON", "Cancel",
                      WS_VISIBLE | WS_TABSTOP | WS_GROUP | WS_DISABLED | BS_PUSHBUTTON, 0, 504, 13,
                      70, 25, kIdCancel);

  FillDriveList();
  FormStorage1.emplace(StorageRootKey(ModulePath()) + "\\" + kClassName);
}

void TForm1::FillDriveList() {
  drives_ = BuildDriveList(GetLogicalDrives(), ProbeDrive);
  for (size_t i = 0; i < drives_.size(); ++i) {
    COMBOBOXEXITEMA item = {};
    item.mask = CBEIF_TEXT;
    item.iItem = static_cast<INT_PTR>(i);
    item.pszText = drives_[i].text.data();
    SendMessageA(USBDrive, CBEM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  char current[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  if (!drives_.empty()) {
    SendMessageA(USBDrive, CB_SETCURSEL, InitialDriveIndex(drives_, current), 0);
  }
}

// The shell's image list takes a while to build; the window is shown before it is asked.
void TForm1::LoadDriveIcons() {
  SHFILEINFOA info = {};
  const auto images = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoA("C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  if (!images) return;
  SendMessageA(USBDrive, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
  for (size_t i = 0; i < drives_.size(); ++i) {
    const std::string root = std::string(1, drives_[i].letter) + ":\\";
    SHFILEINFOA icon = {};
    if (!SHGetFileInfoA(root.c_str(), 0, &icon, sizeof icon,
                        SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
      continue;
    }
    COMBOBOXEXITEMA item = {};
    item.mask = CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
    item.iItem = static_cast<INT_PTR>(i);
    item.iImage = icon.iIcon;
    item.iSelectedImage = icon.iIcon;
    SendMessageA(USBDrive, CBEM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  InvalidateRect(USBDrive, nullptr, TRUE);
}

void TForm1::FormCreate() {
  SetWindowTextA(hwnd_, (WindowText(hwnd_) + " " + GetFileVersionString(ModulePath())).c_str());
}

void TForm1::LayoutLog() {
  if (IsWindowVisible(pOptions) || startTag_ == 0) {
    MoveWindow(mLog, 0, kOptionsHeight, kClientWidth,
               kClientHeight - kOptionsHeight - kPanel1Height, TRUE);
  } else {
    MoveWindow(mLog, 0, 0, kClientWidth, kClientHeight - kPanel1Height, TRUE);
  }
}

void TForm1::Unlock() {
  SetWindowTextA(bStart, "Start");
  startTag_ = 0;
  SendMessageA(mLog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Ready."));
  logEndsWithBreak_ = false;
  LayoutLog();
  ShowWindow(pOptions, SW_SHOW);
}

void TForm1::RestoreState() {
  const std::optional<std::string> version = FormStorage1->Read("FormVersion");
  std::optional<std::string> tag;
  if (ParseStoredInteger(version.value_or("0")).value_or(0) >= 0) {
    tag = FormStorage1->Read("bStart_Tag");
  }
  const std::optional<int> restored = RestoredStartTag(version, tag, startTag_);
  Advance(state_, WindowEvent::StoreRead);
  if (!restored) return;
  startTag_ = *restored;
  FormStorage1RestorePlacement();
}

void TForm1::FormStorage1RestorePlacement() {
  if (startTag_ == 0) Unlock();
}

void TForm1::SaveState() {
  FormStorage1->Write("FormVersion", "0");
  FormStorage1->Write("bStart_Tag", std::to_string(startTag_));
}

void TForm1::ShowError(const std::string& message) {
  MessageBoxA(hwnd_, message.c_str(), ApplicationTitle().c_str(), MB_OK | MB_ICONERROR);
}

template <typename F>
void TForm1::Guarded(F&& handler) {
  try {
    handler();
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TForm1::bStartClick() {
  if (!Advance(state_, WindowEvent::StartClick).run) return;
  // Guarded inside, so that a run ended by an exception still ends and a close request made
  // during it is carried out.
  Guarded([this] { bw::bStartClick(*this, RealSystem(), sources_); });
  if (Advance(state_, WindowEvent::RunEnded).destroy) DestroyWindow(hwnd_);
}

void TForm1::OnClose() {
  const WindowActions actions = Advance(state_, WindowEvent::CloseRequest);
  if (actions.write) Guarded([this] { SaveState(); });
  if (actions.destroy) DestroyWindow(hwnd_);
}

void TForm1::ISOFileAfterDialog(std::string& name, bool& action) {
  ISOFileAfterDialogRule(name, action);
}

void TForm1::BrowseIsoFolder() {
  // The folder dialog wants a single-threaded apartment; set up on first use, it is slow.
  if (!comInitialized_)
    comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  std::string start = BrowseStartFolder(WindowText(ISOFile), FolderExists);
  if (start == "\\") {
    char full[MAX_PATH + 1] = {};
    if (GetFullPathNameA("\\", MAX_PATH, full, nullptr)) start = full;
  }
  BROWSEINFOA browse = {};
  browse.hwndOwner = hwnd_;
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  browse.lpfn = BrowseCallback;
  browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
  std::unique_ptr<ITEMIDLIST, CoTaskMemDeleter> chosen(SHBrowseForFolderA(&browse));
  char folder[MAX_PATH + 1] = {};
  bool action = chosen && SHGetPathFromIDListA(chosen.get(), folder);
  std::string name = action ? std::string(folder) : WindowText(ISOFile);
  ISOFileAfterDialog(name, action);
  if (action) {
    SendMessageA(ISOFile, EM_SETSEL, 0, 0);
    SetWindowTextA(ISOFile, name.c_str());
  }
}

void TForm1::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case kIdStart:
      if (IsWindowEnabled(bStart)) bStartClick();
      break;
    case kIdCancel:
      if (IsWindowEnabled(bCancel)) tasks_.bCancelClick();
      break;
    case kIdIso:
    case kIdUsb:
      SendMessageA(rIso, BM_SETCHECK, id == kIdIso ? BST_CHECKED : BST_UNCHECKED, 0);
      SendMessageA(rUSB, BM_SETCHECK, id == kIdUsb ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case kIdIsoFileButton:
      Guarded([this] { BrowseIsoFolder(); });
      break;
    default:
      break;  // IDOK and IDCANCEL from the dialog keys: nothing is bound to them
  }
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp));
      return 0;
    case kLoadDriveIcons:
      LoadDriveIcons();
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(kIdStart, DC_HASDEFID);
    case WM_SHOWWINDOW:
      if (wp && Advance(state_, WindowEvent::Shown).read) Guarded([this] { RestoreState(); });
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      if (Advance(state_, WindowEvent::Destroyed).write) Guarded([this] { SaveState(); });
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    form->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!form || form->hwnd_ != hwnd) return DefWindowProcA(hwnd, msg, wp, lp);
  return form->HandleMessage(msg, wp, lp);
}

LRESULT CALLBACK TForm1::PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageA(GetParent(hwnd), msg, wp, lp);
    default:
      return DefWindowProcA(hwnd, msg, wp, lp);
  }
}

LRESULT CALLBACK TForm1::LogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  // A multi-line edit closes its dialog on Esc; this window binds nothing to that key.
  if ((msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_CHAR) && wp == VK_ESCAPE) return 0;
  if (msg == WM_NCDESTROY) sys::RemoveWindowSubclass(hwnd, LogProc, 1);
  return sys::DefSubclassProc(hwnd, msg, wp, lp);
}

// RunHost

bool TForm1::UsbSelected() { return SendMessageA(rUSB, BM_GETCHECK, 0, 0) == BST_CHECKED; }
bool TForm1::IsoSelected() { return SendMessageA(rIso, BM_GETCHECK, 0, 0) == BST_CHECKED; }

std::string TForm1::UsbDriveText() {
  const auto index = SendMessageA(USBDrive, CB_GETCURSEL, 0, 0);
  if (index < 0 || static_cast<size_t>(index) >= drives_.size()) return {};
  return drives_[static_cast<size_t>(index)].text;
}

char TForm1::UsbDriveLetter() {
  const auto index = SendMessageA(USBDrive, CB_GETCURSEL, 0, 0);
  if (index < 0 || static_cast<size_t>(index) >= drives_.size()) return 0;
  return drives_[static_cast<size_t>(index)].letter;
}

std::string TForm1::IsoFileText() { return WindowText(ISOFile); }

int TForm1::ImageTypeIndex() {
  return static_cast<int>(SendMessageA(cbImageType, CB_GETCURSEL, 0, 0));
}

bool TForm1::ConfirmReformat(const std::string& text) {
  return MessageBoxA(hwnd_, text.c_str(), "Warning", MB_YESNO | MB_ICONWARNING) != IDNO;
}

void TForm1::SetStartEnabled(bool enabled) { EnableWindow(bStart, enabled); }
void TForm1::SetCancelEnabled(bool enabled) { EnableWindow(bCancel, enabled); }
void TForm1::SetOptionsEnabled(bool enabled) { EnableWindow(pOptions, enabled); }

void TForm1::ClearLog() {
  SendMessageA(mLog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
  logEndsWithBreak_ = true;
}

void TForm1::ResetProgress() { ProgressSetPosition(ProgressMin()); }

void TForm1::SaveRunLog(const std::string& folder) {
  // The control hands out its text with CR LF line ends; sized for those, in bytes.
  GETTEXTLENGTHEX length = {GTL_USECRLF | GTL_PRECISE | GTL_NUMBYTES, CP_ACP};
  const auto bytes = SendMessageA(mLog, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
  std::string text(static_cast<size_t>(bytes > 0 ? bytes : 0) + 1, '\0');
  const auto got =
      SendMessageA(mLog, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  WriteRunLog(folder, text);
}

// TaskView

namespace {
LONG LogLength(HWND log) {
  GETTEXTLENGTHEX length = {GTL_NUMCHARS | GTL_PRECISE, CP_ACP};
  return static_cast<LONG>(
      SendMessageA(log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
}
}  // namespace

void TForm1::LogAddLine(const std::string& text) {
  std::string insert = logEndsWithBreak_ ? std::string() : std::string("\r\n");
  insert += text;
  insert += "\r\n";
  // The control takes a C string: a NUL in a child's output would cut the rest of the entry.
  std::replace(insert.begin(), insert.end(), '\0', ' ');
  CHARRANGE end = {LogLength(mLog), LogLength(mLog)};
  SendMessageA(mLog, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
  SendMessageA(mLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(insert.c_str()));
  logEndsWithBreak_ = true;
}

void TForm1::LogScrollToEnd() {
  const LONG length = LogLength(mLog);
  CHARRANGE end = {length, length};
  SendMessageA(mLog, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
  SendMessageA(mLog, EM_SCROLLCARET, 0, 0);
}

void TForm1::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
      return;
    }
    if (hwnd_ && IsDialogMessageA(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

int TForm1::ProgressMin() { return static_cast<int>(SendMessageA(pb, PBM_GETRANGE, TRUE, 0)); }
int TForm1::ProgressMax() { return static_cast<int>(SendMessageA(pb, PBM_GETRANGE, FALSE, 0)); }
void TForm1::ProgressSetMax(int max) { SendMessageA(pb, PBM_SETRANGE32, ProgressMin(), max); }
int TForm1::ProgressPosition() { return static_cast<int>(SendMessageA(pb, PBM_GETPOS, 0, 0)); }
void TForm1::ProgressSetPosition(int position) { SendMessageA(pb, PBM_SETPOS, position, 0); }
void TForm1::ProgressStepIt() { SendMessageA(pb, PBM_STEPIT, 0, 0); }

}  // namespace bw
