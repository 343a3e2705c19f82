// Stand-in for the product installer (an Inno Setup installer). It takes exactly
//   /SP- /verysilent /noicons /LOG /COMPONENTS="TXB_Worker" /dir="<folder>"
// creates the folder and puts TXBWorker.exe there, copied from the file that BW_WORKER_SOURCE
// names or else from the TXBWorker.exe beside the installer.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "common/Journal.h"
#include "support/Files.h"

namespace {

const char kName[] = "Txb6Inst";

std::string OwnFolder() {
  char path[MAX_PATH * 4] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string own = path;
  return own.substr(0, own.find_last_of('\\'));
}

}  // namespace

int main() {
  standin::Journal(kName);
  std::set<std::string> seen;
  std::string folder, components;
  for (const std::string& word : standin::SplitWords(standin::ArgumentText())) {
    size_t equals = word.find('=');
    std::string name = word.substr(0, equals);
    CharUpperA(name.data());
    std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    if ((name == "/SP-" || name == "/VERYSILENT" || name == "/NOICONS") &&
        equals == std::string::npos) {
    } else if (name == "/LOG") {
    } else if (name == "/COMPONENTS" && equals != std::string::npos) {
      components = value;
    } else if (name == "/DIR" && equals != std::string::npos) {
      folder = value;
    } else {
      return standin::Fail(kName, 1, "unknown switch " + word);
    }
    seen.insert(name);
  }
  for (const char* required : {"/SP-", "/VERYSILENT", "/NOICONS", "/LOG", "/COMPONENTS", "/DIR"}) {
    if (!seen.count(required)) return standin::Fail(kName, 1, std::string("missing ") + required);
  }
  if (lstrcmpiA(components.c_str(), "TXB_Worker") != 0)
    return standin::Fail(kName, 1, "offers only the component TXB_Worker, not " + components);
  if (folder.empty()) return standin::Fail(kName, 1, "/dir names no folder");

  standin::Delay("BW_TXB6INST_DELAY_MS");
  int steered = standin::EnvInt("BW_TXB6INST_EXIT", 0);
  if (steered) return standin::Fail(kName, steered, "failed (BW_TXB6INST_EXIT)");

  std::string source = standin::Env("BW_WORKER_SOURCE", OwnFolder() + "\\TXBWorker.exe");
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  if (!bw::ForceDirectories(folder))
    return standin::Fail(kName, ERROR_ACCESS_DENIED, "cannot create " + folder);
  std::string target = folder + "\\TXBWorker.exe";
  if (!CopyFileA(source.c_str(), target.c_str(), FALSE))
    return standin::Fail(kName, ERROR_FILE_NOT_FOUND, "cannot copy " + source + " to " + target);
  return 0;
}
