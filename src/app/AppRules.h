// The window's decisions that need no window: drive-list texts, the browse folder rules, how
// stored values are read back, the run state. Kept apart so they can be tested without a desktop.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bw {

// What the system says about one drive letter.
struct DriveInfo {
  UINT type = DRIVE_UNKNOWN;  // GetDriveTypeA
  std::string label;          // volume label (fixed, optical, RAM)
  std::string remoteName;     // network drives: \\SERVER\SHARE
};

struct DriveEntry {
  char letter = 0;  // upper case
  UINT type = DRIVE_UNKNOWN;
  std::string text;
};

// The text the drive list shows; empty for drives it leaves out.
std::string DriveListText(char letter, const DriveInfo& info);

// Every letter set in mask, A to Z, that probe says has a known kind.
std::vector<DriveEntry> BuildDriveList(DWORD mask, const std::function<DriveInfo(char)>& probe);

// Index of the entry for the drive of currentDir, or 0 when there is none.
int InitialDriveIndex(const std::vector<DriveEntry>& entries, const std::string& currentDir);

// After the folder dialog: a confirmed folder becomes the image path inside it.
void ISOFileAfterDialogRule(std::string& name, bool action);

// Where the folder dialog opens: the edit's text when it names a folder, else "\".
std::string BrowseStartFolder(const std::string& editText,
                              const std::function<bool(const std::string&)>& isFolder);

// Decimal text, blanks around it ignored; anything else is no number.
std::optional<long long> ParseStoredInteger(const std::string& text);

// The page flag after reading the store: nullopt when the stored version forbids restoring
// (the flag then stays as it was). A missing value is nullopt.
std::optional<int> RestoredStartTag(const std::optional<std::string>& formVersion,
                                    const std::optional<std::string>& storedTag, int currentTag);

// The window's run state. A run pumps messages (its long steps, and the reformat question's
// message box before them), so in the middle of a run the window still gets clicks on Cancel,
// scrolling, moving, a close request, and a Start click while the question is open.
//   Idle           Start runs; a close request destroys the window.
//   Running        Start is ignored; a close request waits for the end of the run.
//   CloseAfterRun  Start and further close requests are ignored; the end of the run
//                  destroys the window.
//   Closing        The window is being destroyed: nothing more starts.
// The store is read at the first showing only. It is written once, at the first close request
// or else when the window is destroyed, and only if that read succeeded: what could not be
// read is not overwritten.
struct WindowState {
  enum class Phase { Idle, Running, CloseAfterRun, Closing };
  enum class Store { NotShown, Unread, Read, Written };
  Phase phase = Phase::Idle;
  Store store = Store::NotShown;
};

enum class WindowEvent {
  Shown,         // WM_SHOWWINDOW
  StoreRead,     // the read at the first showing succeeded
  StartClick,    // a click on bStart
  RunEnded,      // the Start click's handler returned, however
  CloseRequest,  // WM_CLOSE
  Destroyed,     // WM_DESTROY
};

// What the window does on an event, in this order.
struct WindowActions {
  bool read = false;
  bool run = false;
  bool write = false;
  bool destroy = false;
};

// Moves `state` on by `event` and says what the window must do.
WindowActions Advance(WindowState& state, WindowEvent event);

// "Software\<program file name without extension>".
std::string StorageRootKey(const std::string& modulePath);

// What the program's command line asks for. Words are split at blanks outside double quotes,
// the quotes dropped; the switches `/amd64` and `/nohostdrivers` count in any letter case.
struct CommandLineOptions {
  bool amd64 = false;
  bool noHostDrivers = false;
  std::vector<std::string> unknown;  // every other word, in order
};
CommandLineOptions ParseCommandLine(const std::string& arguments);

// The message that names the words the program does not know, and the switches it does.
std::string UnknownArgumentsMessage(const std::vector<std::string>& unknown);

// A 64-bit medium takes the machine's own 64-bit tools, which only an x64 Windows has (not a
// 32-bit one, nor ARM64). Elsewhere /amd64 is dropped and the message to show is returned;
// empty when nothing changes.
std::string Amd64Refusal(CommandLineOptions& options, WORD nativeMachine);

}  // namespace bw
