// The work behind the kit's stand-in scripts: DandISetEnv.bat, copype.cmd and
// MakeWinPEMedia.cmd each run "kittool.exe <their name> <their arguments>". The scripts keep
// what has to happen in the caller's command interpreter (the search path); this program
// journals, checks the arguments and lays out or writes the files.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KitFiles.h"
#include "common/Journal.h"

namespace {

bool Same(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

int DandISetEnv(const std::vector<std::string>& args) {
  const std::string name = "DandISetEnv";
  int steered = standin::EnvInt("BW_DANDISETENV_EXIT", 0);
  if (steered) return standin::Fail(name, steered, "failed (BW_DANDISETENV_EXIT)");
  if (!args.empty()) return standin::Fail(name, 1, "takes no arguments");
  return 0;
}

// The pristine WinPE image that copype lays down: the image's own background picture and
// start-up script, plus whatever the folder BW_COPYPE_IMAGE_EXTRA holds (tests use it to plant
// things in the image).
standin::Archive StockImage(const std::string& arch) {
  standin::Archive image;
  image.settings["locale"] = "en-US";
  image.settings["architecture"] = arch;
  image.folders = {"Windows", "Windows\\System32"};
  image.files.emplace_back("Windows\\System32\\winpe.jpg", "stock WinPE background picture\r\n");
  image.files.emplace_back("Windows\\System32\\startnet.cmd", "wpeinit\r\n");
  std::string extra = standin::Env("BW_COPYPE_IMAGE_EXTRA");
  if (!extra.empty()) {
    bool ok = true;
    standin::Archive more = standin::ArchiveOfTree(extra, ok);
    for (const std::string& folder : more.folders) image.folders.push_back(folder);
    for (auto& file : more.files) image.files.push_back(file);
  }
  return image;
}

int Copype(const std::vector<std::string>& args) {
  const std::string name = "copype";
  int steered = standin::EnvInt("BW_COPYPE_EXIT", 0);
  if (steered) return standin::Fail(name, steered, "failed (BW_COPYPE_EXIT)");
  if (args.size() != 2) return standin::Fail(name, 1, "usage: copype <architecture> <folder>");
  const std::string& arch = args[0];
  if (!Same(arch, "amd64") && !Same(arch, "x86") && !Same(arch, "arm") && !Same(arch, "arm64"))
    return standin::Fail(name, 1, "unknown architecture " + arch);
  if (standin::Env("WinPERoot").empty())
    return standin::Fail(name, 1, "WinPERoot is not set; run DandISetEnv first");
  std::string build = standin::FullPath(args[1]);
  if (bw::FolderExists(build) || bw::FileExists(build))
    return standin::Fail(name, 1, "Destination directory exists: " + build);
  std::printf("Creating Windows PE customization working directory\n\n    %s\n\n", build.c_str());
  bool ok = bw::ForceDirectories(build + "\\mount") &&
            standin::PutFile(build + "\\media\\bootmgr", "boot manager\r\n") &&
            standin::PutFile(build + "\\media\\Boot\\BCD", "boot configuration\r\n") &&
            standin::PutFile(build + "\\fwfiles\\etfsboot.com", "El Torito boot\r\n") &&
            standin::PutFile(build + "\\media\\sources\\boot.wim",
                             standin::SerializeArchive(StockImage(arch)));
  if (!ok) return standin::Fail(name, 1, "cannot create " + build);
  std::printf("Success\n");
  return 0;
}

int MakeWinPEMedia(const std::vector<std::string>& args) {
  const std::string name = "MakeWinPEMedia";
  int steered = standin::EnvInt("BW_MAKEWINPEMEDIA_EXIT", 0);
  if (steered) return standin::Fail(name, steered, "failed (BW_MAKEWINPEMEDIA_EXIT)");
  const char usage[] = "usage: MakeWinPEMedia {/ufd | /iso} /f <workingDirectory> <destination>";
  if (args.size() != 4) return standin::Fail(name, 1, usage);
  bool iso = Same(args[0], "/ISO"), ufd = Same(args[0], "/UFD");
  if (!iso && !ufd) return standin::Fail(name, 1, usage);
  // Without /f the kit's script asks before it overwrites or formats; a hidden build would
  // wait for ever, so the stand-in refuses instead of asking.
  if (!Same(args[1], "/F")) return standin::Fail(name, 1, "would ask for confirmation (no /f)");
  if (standin::Env("WinPERoot").empty())
    return standin::Fail(name, 1, "WinPERoot is not set; run DandISetEnv first");
  std::string work = standin::FullPath(args[2]);
  std::string media = work + "\\media";
  if (!bw::FileExists(media + "\\sources\\boot.wim"))
    return standin::Fail(name, 1, "Working directory is not valid: " + work);
  for (const auto& [folder, mount] : standin::ReadMounts()) {
    if (lstrcmpiA(mount.image.c_str(), (media + "\\sources\\boot.wim").c_str()) == 0)
      return standin::Fail(name, 1, "the boot image is still mounted at " + folder);
  }
  bool ok = true;
  standin::Archive medium = standin::ArchiveOfTree(media, ok);
  if (!ok) return standin::Fail(name, 1, "cannot read " + media);
  if (iso) {
    std::string target = standin::FullPath(args[3]);
    if (!bw::FolderExists(standin::ParentOf(target)))
      return standin::Fail(name, 1, "no folder for " + target);
    std::printf("Creating %s...\n", target.c_str());
    medium.settings["medium"] = "iso";
    if (!standin::PutFile(target, standin::SerializeArchive(medium)))
      return standin::Fail(name, 1, "cannot write " + target);
  } else {
    const std::string& drive = args[3];
    if (drive.size() != 2 || drive[1] != ':' || !IsCharAlphaA(drive[0]))
      return standin::Fail(name, 1, "not a drive letter: " + drive);
    // Never a real drive: a folder named by the environment takes the drive's place.
    std::string root = standin::Env("BW_UFD_DIR");
    if (root.empty() || !bw::FolderExists(root))
      return standin::Fail(name, 1, "BW_UFD_DIR names no folder to stand in for " + drive);
    std::printf("Formatting %s...\nCopying files to %s...\n", drive.c_str(), drive.c_str());
    standin::EmptyFolder(root);
    if (!standin::ExtractArchive(medium, root, false))
      return standin::Fail(name, 1, "cannot write to " + root);
  }
  std::printf("Success\n");
  return 0;
}

}  // namespace

int main() {
  std::vector<std::string> words = standin::SplitWords(standin::ArgumentText());
  if (words.empty()) return standin::Fail("kittool", 87, "names no tool");
  std::string tool = words[0];
  standin::JournalLine(tool, standin::ArgumentText(2));
  std::vector<std::string> args(words.begin() + 1, words.end());
  if (tool == "DandISetEnv") return DandISetEnv(args);
  if (tool == "copype") return Copype(args);
  if (tool == "MakeWinPEMedia") return MakeWinPEMedia(args);
  return standin::Fail("kittool", 87, "unknown tool " + tool);
}
