// The window's decisions that need no window: drive-list texts, the browse folder rules and
// how stored values are read back. Kept apart so they can be tested without a desktop.
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

// "Software\<program file name without extension>".
std::string StorageRootKey(const std::string& modulePath);

// What the program's command line asks for. Words are split at blanks outside double quotes,
// the quotes dropped; `/amd64` in any letter case is the one switch there is.
struct CommandLineOptions {
  bool amd64 = false;
  std::vector<std::string> unknown;  // every other word, in order
};
CommandLineOptions ParseCommandLine(const std::string& arguments);

// The message that names the words the program does not know, and the switch it does.
std::string UnknownArgumentsMessage(const std::vector<std::string>& unknown);

}  // namespace bw
