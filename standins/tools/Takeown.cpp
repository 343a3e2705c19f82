// Stand-in for takeown.exe, which Wine lacks:  takeown /f <file>
// Taking ownership succeeds when the file or folder exists.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/Journal.h"

int main() {
  const std::string name = "takeown";
  standin::Journal(name);
  std::vector<std::string> words = standin::SplitWords(standin::ArgumentText());
  std::string target;
  for (size_t i = 0; i < words.size(); ++i) {
    if (lstrcmpiA(words[i].c_str(), "/f") == 0 && i + 1 < words.size()) {
      target = words[++i];
    } else {
      return standin::Fail(name, 1, "ERROR: Invalid argument/option - '" + words[i] + "'.");
    }
  }
  if (target.empty()) return standin::Fail(name, 1, "ERROR: Missing /f <file>.");
  int steered = standin::EnvInt("BW_TAKEOWN_EXIT", 0);
  if (steered) return standin::Fail(name, steered, "ERROR: failed (BW_TAKEOWN_EXIT).");
  if (GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES)
    return standin::Fail(name, 1, "ERROR: The system cannot find the file specified.");
  std::printf("\nSUCCESS: The file (or folder): \"%s\" now owned by the Administrators group.\n",
              target.c_str());
  return 0;
}
