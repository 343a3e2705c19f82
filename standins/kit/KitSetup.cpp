// Stand-in for the kit's two installers, built once per installer:
//   adksetup.exe       /features OptionId.DeploymentTools /installpath "<folder>" [/q]
//   adkwinpesetup.exe  /features OptionId.WindowsPreinstallationEnvironment /installpath
//                      "<folder>" [/q]
// Each lays out its feature's files, carried as resources so that a downloaded copy works on
// its own, below "<folder>\Assessment and Deployment Kit".
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KitFiles.h"
#include "common/Journal.h"

#ifndef BW_KIT_DEPLOYMENT_TOOLS
#define BW_KIT_DEPLOYMENT_TOOLS 0
#endif

namespace {

struct Payload {
  const char* resource;
  const char* path;  // below "<installpath>\Assessment and Deployment Kit"
};

#if BW_KIT_DEPLOYMENT_TOOLS
const char kName[] = "adksetup";
const char kFeature[] = "OptionId.DeploymentTools";
const char kExitVariable[] = "BW_ADKSETUP_EXIT";
const char kQuietExitVariable[] = "BW_ADKSETUP_QUIET_EXIT";
const char kDelayVariable[] = "BW_ADKSETUP_DELAY_MS";
const char kNoFilesVariable[] = "BW_ADKSETUP_NOFILES";
const Payload kPayload[] = {
    {"DANDISETENV", "Deployment Tools\\DandISetEnv.bat"},
    {"KITTOOL", "Deployment Tools\\Tools\\kittool.exe"},
    {"DISM", "Deployment Tools\\Tools\\dism.exe"},
    {"TAKEOWN", "Deployment Tools\\Tools\\takeown.exe"},
};
#else
const char kName[] = "adkwinpesetup";
const char kFeature[] = "OptionId.WindowsPreinstallationEnvironment";
const char kExitVariable[] = "BW_ADKWINPESETUP_EXIT";
const char kQuietExitVariable[] = "BW_ADKWINPESETUP_QUIET_EXIT";
const char kDelayVariable[] = "BW_ADKWINPESETUP_DELAY_MS";
const char kNoFilesVariable[] = "BW_ADKWINPESETUP_NOFILES";
const Payload kPayload[] = {
    {"COPYPE", "Windows Preinstallation Environment\\copype.cmd"},
    {"MAKEWINPEMEDIA", "Windows Preinstallation Environment\\MakeWinPEMedia.cmd"},
    {"KITTOOL", "Windows Preinstallation Environment\\Tools\\kittool.exe"},
};
#endif

bool Same(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

bool Resource(const char* name, std::string& bytes) {
  HRSRC found = FindResourceA(nullptr, name, RT_RCDATA);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return false;
  bytes.assign(static_cast<const char*>(data), SizeofResource(nullptr, found));
  return true;
}

}  // namespace

int main() {
  standin::Journal(kName);
  std::vector<std::string> words = standin::SplitWords(standin::ArgumentText());
  std::string feature, installPath;
  bool quiet = false;
  for (size_t i = 0; i < words.size(); ++i) {
    if (Same(words[i], "/features") && i + 1 < words.size()) {
      feature = words[++i];
    } else if (Same(words[i], "/installpath") && i + 1 < words.size()) {
      installPath = words[++i];
    } else if (Same(words[i], "/q") || Same(words[i], "/quiet")) {
      quiet = true;
    } else {
      return standin::Fail(kName, ERROR_INVALID_PARAMETER, "unknown switch " + words[i]);
    }
  }
  if (!Same(feature, kFeature))
    return standin::Fail(kName, ERROR_INVALID_PARAMETER,
                         "offers only /features " + std::string(kFeature));
  if (installPath.empty())
    return standin::Fail(kName, ERROR_INVALID_PARAMETER, "needs /installpath \"<folder>\"");

  standin::Delay(kDelayVariable);
  int steered = standin::EnvInt(kExitVariable, 0);
  if (steered) return standin::Fail(kName, steered, std::string("failed (") + kExitVariable + ")");
  if (quiet) {
    steered = standin::EnvInt(kQuietExitVariable, 0);
    if (steered)
      return standin::Fail(kName, steered,
                           std::string("silent install refused (") + kQuietExitVariable + ")");
  }

  if (standin::EnvInt(kNoFilesVariable, 0)) return 0;  // claims success, installs nothing

  std::string root = standin::FullPath(installPath) + "\\Assessment and Deployment Kit";
  if (!quiet) std::printf("Installing %s into %s\n", kFeature, root.c_str());
  for (const Payload& item : kPayload) {
    std::string bytes, target = root + "\\" + item.path;
    if (!Resource(item.resource, bytes)) return standin::Fail(kName, 1, "damaged installer");
    if (!standin::PutFile(target, bytes))
      return standin::Fail(kName, ERROR_ACCESS_DENIED, "cannot write " + target);
  }
  return 0;
}
