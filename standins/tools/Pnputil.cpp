// Stand-in for pnputil.exe, which Wine lacks:  pnputil /export-driver <oemN.inf> <folder>
// Copies the package from %SystemRoot%\INF into the folder: the .inf and the files its
// [SourceDisksFiles] sections list, which lie beside it.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/Journal.h"

namespace {

const char kName[] = "pnputil";

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// The file names of every [SourceDisksFiles] and [SourceDisksFiles.<platform>] section.
std::vector<std::string> ListedFiles(const std::string& inf) {
  std::vector<std::string> files;
  bool listing = false;
  size_t at = 0;
  while (at < inf.size()) {
    size_t end = inf.find('\n', at);
    if (end == std::string::npos) end = inf.size();
    std::string line = inf.substr(at, end - at);
    line = Trimmed(line.substr(0, line.find(';')));
    at = end + 1;
    if (!line.empty() && line[0] == '[') {
      listing = _strnicmp(line.c_str(), "[SourceDisksFiles", 17) == 0;
    } else if (listing && !line.empty()) {
      files.push_back(Trimmed(line.substr(0, line.find('='))));
    }
  }
  return files;
}

}  // namespace

int main() {
  standin::Journal(kName);
  const std::vector<std::string> words = standin::SplitWords(standin::ArgumentText());
  if (words.size() != 3 || lstrcmpiA(words[0].c_str(), "/export-driver") != 0) {
    return standin::Fail(kName, ERROR_INVALID_PARAMETER,
                         "Usage: pnputil /export-driver <oemN.inf> <folder>");
  }
  const int steered = standin::EnvInt("BW_PNPUTIL_EXIT", 0);
  if (steered) return standin::Fail(kName, steered, "Failed to export (BW_PNPUTIL_EXIT).");
  const std::string& name = words[1];
  const std::string& folder = words[2];
  if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return standin::Fail(kName, ERROR_PATH_NOT_FOUND, "The target folder does not exist.");
  }

  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string infFolder = std::string(windows) + "\\INF\\";
  std::vector<std::string> files = {name};
  std::string inf;
  {
    FILE* file = std::fopen((infFolder + name).c_str(), "rb");
    if (!file) return standin::Fail(kName, ERROR_FILE_NOT_FOUND, "No such package: " + name);
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
      inf.append(buffer, got);
    std::fclose(file);
  }
  for (const std::string& listed : ListedFiles(inf)) files.push_back(listed);
  std::printf("Exporting driver package: %s\n", name.c_str());
  for (const std::string& file : files) {
    if (!CopyFileA((infFolder + file).c_str(), (folder + "\\" + file).c_str(), FALSE)) {
      const DWORD error = GetLastError();
      return standin::Fail(kName, static_cast<int>(error), "Failed to export " + file + ".");
    }
  }
  std::printf("Driver package exported successfully.\n");
  return 0;
}
