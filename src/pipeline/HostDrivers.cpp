#include "pipeline/HostDrivers.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "support/Errors.h"
#include "support/Files.h"
#include "support/Handles.h"
#include "support/Paths.h"

namespace bw {

namespace {

// pnputil has exported drivers since Windows 10 version 1607.
constexpr DWORD kExportDriverBuild = 14393;
constexpr int kExportWeight = 5;

const char* const kClasses[] = {"scsiadapter", "hdc", "net"};
const char* const kClassGuids[] = {
    "{4d36e97b-e325-11ce-bfc1-08002be10318}",  // SCSIAdapter
    "{4d36e96a-e325-11ce-bfc1-08002be10318}",  // HDC
    "{4d36e972-e325-11ce-bfc1-08002be10318}",  // Net
};

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Only ASCII names are looked for, so a UTF-16 character beyond it may stand as '?'.
std::string InfText(const std::string& bytes) {
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return AsciiLower(bytes.substr(3));
  if (bytes.rfind("\xFF\xFE", 0) != 0) return AsciiLower(bytes);
  std::string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = static_cast<unsigned char>(bytes[i]) |
                          static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    text += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return AsciiLower(text);
}

std::string_view Trimmed(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The line up to its comment, blanks around it dropped; a ';' between quotes is text.
std::string_view Uncommented(std::string_view line) {
  bool quoted = false;
  size_t end = 0;
  while (end < line.size() && (quoted || line[end] != ';')) {
    if (line[end] == '"') quoted = !quoted;
    ++end;
  }
  return Trimmed(line.substr(0, end));
}

std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool OneOf(std::string_view value, const char* const (&names)[3]) {
  for (const char* name : names) {
    if (value == name) return true;
  }
  return false;
}

// "oem<digits>.inf" in any letter case: the names Windows gives third-party packages, which go
// into pnputil's command line as they are. The search pattern also matches by short name.
bool IsOemInfName(const std::string& name) {
  const std::string lower = AsciiLower(name);
  if (lower.size() < 8 || lower.rfind("oem", 0) != 0 ||
      lower.compare(lower.size() - 4, 4, ".inf") != 0) {
    return false;
  }
  return std::all_of(lower.begin() + 3, lower.end() - 4,
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The machine's packages that name a storage or network class.
std::vector<std::string> StorageAndNetworkPackages(const std::string& infFolder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  UniqueFindHandle find(FindFirstFileA(JoinPath({infFolder, "oem*.inf"}).c_str(), &entry));
  if (!find) return names;
  do {
    const std::string name = entry.cFileName;
    std::string bytes;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsOemInfName(name) &&
        TryReadWholeFile(JoinPath({infFolder, name}), bytes) && NamesStorageOrNetworkClass(bytes)) {
      // By number: oem2 before oem10.
      auto at = names.begin();
      while (at != names.end() &&
             (at->size() < name.size() || (at->size() == name.size() && *at < name))) {
        ++at;
      }
      names.insert(at, name);
    }
  } while (FindNextFileA(find.get(), &entry));
  return names;
}

}  // namespace

bool NamesStorageOrNetworkClass(const std::string& inf) {
  const std::string lower = InfText(inf);
  const std::string_view text = lower;
  bool inVersion = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Uncommented(text.substr(at, end - at));
    at = end + 1;
    if (!line.empty() && line.front() == '[') {
      inVersion = Trimmed(line.substr(1, line.find(']') - 1)) == "version";
      continue;
    }
    const size_t equals = line.find('=');
    if (!inVersion || equals == std::string_view::npos) continue;
    const std::string_view key = Trimmed(line.substr(0, equals));
    const std::string_view value = Unquoted(Trimmed(line.substr(equals + 1)));
    if ((key == "class" && OneOf(value, kClasses)) ||
        (key == "classguid" && OneOf(value, kClassGuids))) {
      return true;
    }
  }
  return false;
}

int ExportHostDrivers(RunHost& host, const SystemProbe& system, const std::string& folder) {
  try {
    // What an earlier run exported may have left the machine since.
    CheckLastError(TryRemoveTree(folder), folder);
    const std::string windows = system.WindowsDirectory();
    const std::vector<std::string> packages = StorageAndNetworkPackages(JoinPath({windows, "INF"}));
    if (packages.empty()) return 0;
    CheckCode(system.BuildNumber() >= kExportDriverBuild, ERROR_OLD_WIN_VERSION,
              "(Windows 10 version 1607+)");
    // SysWOW64 holds no pnputil.
    const std::string pnputil =
        JoinPath({windows, system.IsWow64() ? "Sysnative" : "system32", "pnputil.exe"});
    CheckCode(FileExists(pnputil), ERROR_FILE_NOT_FOUND, pnputil);

    // A folder each: two packages may carry files of the same name.
    std::vector<std::string> skipped;
    std::string reason;
    DWORD code = 0;
    for (const std::string& name : packages) {
      const std::string target = JoinPath({folder, name.substr(0, name.size() - 4)});
      try {
        CheckLastError(ForceDirectories(target), target);
        host.RunCommand(
            QuotedString(pnputil) + " /export-driver " + name + " " + QuotedString(target),
            kExportWeight, SW_HIDE);
      } catch (const EOSError& e) {
        TryRemoveTree(target);
        skipped.push_back("This computer's driver package " + name +
                          " is not added: " + e.Message() + ".");
        reason = e.Message();
        code = e.ErrorCode;
      }
    }
    // Not one package: pnputil itself fails.
    if (skipped.size() == packages.size()) throw EOSError(reason, code);
    for (const std::string& line : skipped) host.AddLog(line);
    return static_cast<int>(packages.size() - skipped.size());
  } catch (const EOSError& e) {
    TryRemoveTree(folder);
    host.AddLog("This computer's drivers are not added: " + e.Message() + ".");
    return 0;
  }
}

}  // namespace bw
