#include "app/AppRules.h"

#include <climits>

#include "support/Paths.h"
#include "support/Words.h"

namespace bw {

namespace {

std::string Upper(std::string text) {
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string DriveListText(char letter, const DriveInfo& info) {
  std::string head = Upper(std::string(1, letter)) + ":";
  switch (info.type) {
    case DRIVE_REMOVABLE:
      return head;
    case DRIVE_FIXED:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK:
      return Upper(head + " [" + info.label + "]");
    case DRIVE_REMOTE:
      return Upper(head + " " + info.remoteName);
    default:
      return {};
  }
}

std::vector<DriveEntry> BuildDriveList(DWORD mask, const std::function<DriveInfo(char)>& probe) {
  std::vector<DriveEntry> entries;
  for (int i = 0; i < 26; ++i) {
    if (!(mask & (1u << i))) continue;
    const char letter = static_cast<char>('A' + i);
    const DriveInfo info = probe(letter);
    std::string text = DriveListText(letter, info);
    if (text.empty()) continue;
    entries.push_back({letter, info.type, std::move(text)});
  }
  return entries;
}

int InitialDriveIndex(const std::vector<DriveEntry>& entries, const std::string& currentDir) {
  if (currentDir.size() >= 2 && currentDir[1] == ':') {
    const std::string letter = Upper(currentDir.substr(0, 1));
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].letter == letter[0]) return static_cast<int>(i);
    }
  }
  return 0;
}

void ISOFileAfterDialogRule(std::string& name, bool action) {
  if (action) name = JoinPath({name, "TXBRecovery.iso"});
}

std::string BrowseStartFolder(const std::string& editText,
                              const std::function<bool(const std::string&)>& isFolder) {
  if (editText.empty() || !isFolder(editText)) return "\\";
  return editText;
}

std::optional<long long> ParseStoredInteger(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return std::nullopt;
  bool negative = false;
  if (text[begin] == '+' || text[begin] == '-') {
    negative = text[begin] == '-';
    ++begin;
  }
  if (begin == end) return std::nullopt;
  long long value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX + 1LL) return std::nullopt;  // beyond the flag's integer
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return value;
}

std::optional<int> RestoredStartTag(const std::optional<std::string>& formVersion,
                                    const std::optional<std::string>& storedTag, int currentTag) {
  const long long version = formVersion ? ParseStoredInteger(*formVersion).value_or(0) : 0;
  if (version < 0) return std::nullopt;
  if (!storedTag) return currentTag;
  return static_cast<int>(ParseStoredInteger(*storedTag).value_or(0));
}

namespace {

// Moves `value` from `from` to `to`; false, and nothing moved, when it stood elsewhere.
template <typename T>
bool Move(T& value, T from, T to) {
  if (value != from) return false;
  value = to;
  return true;
}

}  // namespace

WindowActions Advance(WindowState& state, WindowEvent event) {
  using Phase = WindowState::Phase;
  using Store = WindowState::Store;
  WindowActions actions;
  switch (event) {
    case WindowEvent::Shown:
      actions.read = Move(state.store, Store::NotShown, Store::Unread);
      break;
    case WindowEvent::StoreRead:
      Move(state.store, Store::Unread, Store::Read);
      break;
    case WindowEvent::StartClick:
      actions.run = Move(state.phase, Phase::Idle, Phase::Running);
      break;
    case WindowEvent::RunEnded:
      if (!Move(state.phase, Phase::Running, Phase::Idle)) {
        actions.destroy = Move(state.phase, Phase::CloseAfterRun, Phase::Closing);
      }
      break;
    case WindowEvent::CloseRequest:
    case WindowEvent::Destroyed:
      actions.write = Move(state.store, Store::Read, Store::Written);
      if (event == WindowEvent::Destroyed) {
        state.phase = Phase::Closing;
      } else {
        actions.destroy = Move(state.phase, Phase::Idle, Phase::Closing);
        Move(state.phase, Phase::Running, Phase::CloseAfterRun);
      }
      break;
  }
  return actions;
}

std::string StorageRootKey(const std::string& modulePath) {
  const size_t slash = modulePath.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return "Software\\" + name;
}

CommandLineOptions ParseCommandLine(const std::string& arguments) {
  CommandLineOptions options;
  for (const std::string& w : SplitWords(arguments)) {
    if (Upper(w) == "/AMD64") {
      options.amd64 = true;
    } else if (Upper(w) == "/NOHOSTDRIVERS") {
      options.noHostDrivers = true;
    } else {
      options.unknown.push_back(w);
    }
  }
  return options;
}

std::string UnknownArgumentsMessage(const std::vector<std::string>& unknown) {
  std::string text =
      unknown.size() == 1 ? "Unknown command-line argument:" : "Unknown command-line arguments:";
  for (const std::string& word : unknown) text += " \"" + word + "\"";
  return text +
         "\r\n\r\nThe switches are /amd64, which makes a medium for 64-bit computers, and "
         "/nohostdrivers, which leaves this computer's storage and network drivers out of it.";
}

std::string Amd64Refusal(CommandLineOptions& options, WORD nativeMachine) {
  if (!options.amd64 || nativeMachine == IMAGE_FILE_MACHINE_AMD64) return {};
  options.amd64 = false;
  return "A 64-bit medium can be made only on a 64-bit (x64) Windows; this window makes a "
         "32-bit medium.";
}

}  // namespace bw
