// Stand-in for the kit's DISM: mounts the stand-in image format (KitFiles.h) into a folder,
// sets the offline image's system locale, adds driver packages (.inf files, copied into the
// image's Windows\INF), and commits or discards on unmount. Mounted images
// are remembered under HKCU so that a later run can find and discard them, as the real tool
// remembers them across processes.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KitFiles.h"
#include "common/Journal.h"

namespace {

const char kName[] = "dism";

int Fail(int code, const std::string& message) {
  std::printf("\nError: %d\n\n", code);
  return standin::Fail(kName, code, message);
}

int Done() {
  std::printf("The operation completed successfully.\n");
  return 0;
}

struct Options {
  // Mount-Image, Unmount-Image, Cleanup-Mountpoints, Set-SysLocale, Add-Driver
  std::string operation;
  std::string imageFile, index, mountDir, image, locale, driver;
  bool commit = false, discard = false, recurse = false;
};

bool Same(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

// Reads the switches; returns an empty text or what is wrong with them.
std::string Parse(const std::vector<std::string>& words, Options& o) {
  for (const std::string& word : words) {
    if (word.size() < 2 || word[0] != '/') return "unexpected argument \"" + word + "\"";
    size_t colon = word.find(':');
    std::string name = word.substr(1, colon == std::string::npos ? std::string::npos : colon - 1);
    std::string value = colon == std::string::npos ? "" : word.substr(colon + 1);
    bool hasValue = colon != std::string::npos;
    auto operation = [&](const char* op) {
      if (!o.operation.empty()) return false;
      o.operation = op;
      return true;
    };
    if (Same(name, "Mount-Image") && !hasValue) {
      if (!operation("Mount-Image")) return "more than one operation";
    } else if (Same(name, "Unmount-Image") && !hasValue) {
      if (!operation("Unmount-Image")) return "more than one operation";
    } else if (Same(name, "Cleanup-Mountpoints") && !hasValue) {
      if (!operation("Cleanup-Mountpoints")) return "more than one operation";
    } else if (Same(name, "Set-SysLocale") && hasValue && !value.empty()) {
      if (!operation("Set-SysLocale")) return "more than one operation";
      o.locale = value;
    } else if (Same(name, "Add-Driver") && !hasValue) {
      if (!operation("Add-Driver")) return "more than one operation";
    } else if (Same(name, "Driver") && hasValue && !value.empty()) {
      o.driver = value;
    } else if (Same(name, "Recurse") && !hasValue) {
      o.recurse = true;
    } else if (Same(name, "ImageFile") && hasValue && !value.empty()) {
      o.imageFile = value;
    } else if (Same(name, "Index") && hasValue) {
      o.index = value;
    } else if (Same(name, "MountDir") && hasValue && !value.empty()) {
      o.mountDir = value;
    } else if (Same(name, "Image") && hasValue && !value.empty()) {
      o.image = value;
    } else if (Same(name, "Commit") && !hasValue) {
      o.commit = true;
    } else if (Same(name, "Discard") && !hasValue) {
      o.discard = true;
    } else {
      return "unknown option " + word;
    }
  }
  if (o.operation.empty()) return "no operation given";
  if ((!o.driver.empty() || o.recurse) && o.operation != "Add-Driver")
    return "/Driver and /Recurse belong to /Add-Driver";
  bool mountOptions = !o.imageFile.empty() || !o.index.empty();
  if (o.operation == "Mount-Image") {
    if (o.imageFile.empty() || o.index.empty() || o.mountDir.empty())
      return "/Mount-Image needs /ImageFile, /Index and /MountDir";
    if (o.commit || o.discard || !o.image.empty()) return "options that /Mount-Image does not take";
  } else if (o.operation == "Unmount-Image") {
    if (o.mountDir.empty() || o.commit == o.discard)
      return "/Unmount-Image needs /MountDir and one of /Commit and /Discard";
    if (mountOptions || !o.image.empty()) return "options that /Unmount-Image does not take";
  } else if (o.operation == "Cleanup-Mountpoints") {
    if (mountOptions || !o.mountDir.empty() || !o.image.empty() || o.commit || o.discard)
      return "/Cleanup-Mountpoints takes no other option";
  } else if (o.operation == "Set-SysLocale") {
    if (o.image.empty()) return "/Set-SysLocale needs /Image";
    if (mountOptions || !o.mountDir.empty() || o.commit || o.discard)
      return "options that /Set-SysLocale does not take";
  } else if (o.operation == "Add-Driver") {
    if (o.image.empty() || o.driver.empty()) return "/Add-Driver needs /Image and /Driver";
    if (mountOptions || !o.mountDir.empty() || o.commit || o.discard)
      return "options that /Add-Driver does not take";
  }
  return {};
}

int MountImage(const Options& o) {
  int steered = standin::EnvInt("BW_DISM_MOUNT_EXIT", 0);
  if (steered) return Fail(steered, "mount failed (BW_DISM_MOUNT_EXIT)");
  if (o.index != "1") return Fail(ERROR_INVALID_PARAMETER, "the image has no index " + o.index);
  std::string image = standin::FullPath(o.imageFile);
  std::string folder = standin::FullPath(o.mountDir);
  std::string bytes;
  if (!bw::TryReadWholeFile(image, bytes))
    return Fail(ERROR_FILE_NOT_FOUND, "cannot read " + image);
  standin::Archive archive;
  if (!standin::ParseArchive(bytes, archive))
    return Fail(ERROR_INVALID_DATA, image + " is not an image");
  if (!bw::FolderExists(folder)) return Fail(ERROR_PATH_NOT_FOUND, "no folder " + folder);
  standin::Mount existing;
  if (standin::FindMount(folder, existing))
    return Fail(ERROR_ALREADY_EXISTS, "an image is already mounted at " + folder);
  for (const auto& [name, m] : standin::ReadMounts()) {
    if (lstrcmpiA(m.image.c_str(), image.c_str()) == 0)
      return Fail(ERROR_ALREADY_EXISTS, image + " is already mounted at " + name);
  }
  std::vector<std::string> folders, files;
  standin::ListTree(folder, "", folders, files);
  if (!folders.empty() || !files.empty())
    return Fail(ERROR_DIR_NOT_EMPTY, "the folder " + folder + " is not empty");
  std::printf("Mounting image\n");
  standin::Mount mount{image, archive.settings.count("locale") ? archive.settings["locale"] : ""};
  if (!standin::StoreMount(folder, mount)) return Fail(ERROR_BADDB, "cannot remember the mount");
  // The image's own files come up read-only, as a mounted image's system files do.
  if (!standin::ExtractArchive(archive, folder, true)) {
    standin::EmptyFolder(folder);
    standin::ForgetMount(folder);
    return Fail(ERROR_WRITE_FAULT, "cannot write into " + folder);
  }
  return Done();
}

int UnmountImage(const Options& o) {
  const char* variable = o.commit ? "BW_DISM_COMMIT_EXIT" : "BW_DISM_DISCARD_EXIT";
  int steered = standin::EnvInt(variable, 0);
  if (steered) return Fail(steered, std::string("unmount failed (") + variable + ")");
  std::string folder = standin::FullPath(o.mountDir);
  standin::Mount mount;
  if (!standin::FindMount(folder, mount))
    return Fail(ERROR_NOT_FOUND, "no image is mounted at " + folder);
  if (o.commit) {
    std::printf("Saving image\n");
    bool ok = true;
    standin::Archive archive = standin::ArchiveOfTree(folder, ok);
    if (!ok) return Fail(ERROR_READ_FAULT, "cannot read the mounted files");
    std::string old;
    standin::Archive before;
    if (bw::TryReadWholeFile(mount.image, old) && standin::ParseArchive(old, before)) {
      archive.settings = before.settings;
    }
    if (!mount.locale.empty()) archive.settings["locale"] = mount.locale;
    if (!standin::PutFile(mount.image, standin::SerializeArchive(archive)))
      return Fail(ERROR_WRITE_FAULT, "cannot write " + mount.image);
  }
  std::printf("Unmounting image\n");
  standin::EmptyFolder(folder);
  standin::ForgetMount(folder);
  return Done();
}

int CleanupMountpoints() {
  int steered = standin::EnvInt("BW_DISM_CLEANUP_EXIT", 0);
  if (steered) return Fail(steered, "clean-up failed (BW_DISM_CLEANUP_EXIT)");
  // Only mounts whose folder or image is gone are stale; others may belong to a running build.
  for (const auto& [name, m] : standin::ReadMounts()) {
    if (!bw::FolderExists(name) || !bw::FileExists(m.image)) standin::ForgetMount(name);
  }
  return Done();
}

int SetSysLocale(const Options& o) {
  int steered = standin::EnvInt("BW_DISM_LOCALE_EXIT", 0);
  if (steered) return Fail(steered, "setting the locale failed (BW_DISM_LOCALE_EXIT)");
  std::string folder = standin::FullPath(o.image);
  standin::Mount mount;
  if (!standin::FindMount(folder, mount))
    return Fail(ERROR_NOT_FOUND, "no image is mounted at " + folder);
  mount.locale = o.locale;
  if (!standin::StoreMount(folder, mount)) return Fail(ERROR_BADDB, "cannot remember the locale");
  std::printf("Setting system locale to %s\n", o.locale.c_str());
  return Done();
}

bool IsInf(const std::string& name) {
  return name.size() >= 4 && lstrcmpiA(name.c_str() + name.size() - 4, ".inf") == 0;
}

int AddDriver(const Options& o) {
  int steered = standin::EnvInt("BW_DISM_DRIVER_EXIT", 0);
  if (steered) return Fail(steered, "adding drivers failed (BW_DISM_DRIVER_EXIT)");
  std::string folder = standin::FullPath(o.image);
  standin::Mount mount;
  if (!standin::FindMount(folder, mount)) return Fail(1168, "no image is mounted at " + folder);
  std::string source = standin::FullPath(o.driver);
  std::vector<std::string> folders, files, packages;
  if (bw::FileExists(source)) {
    files.push_back(source);
  } else if (bw::FolderExists(source)) {
    standin::ListTree(source, "", folders, files);
    for (std::string& file : files) file = source + "\\" + file;
  } else {
    return Fail(3, "no driver folder or file " + source);
  }
  for (const std::string& file : files) {
    const bool below = file.find('\\', source.size() + 1) != std::string::npos;
    if (IsInf(file) && (o.recurse || !below)) packages.push_back(file);
  }
  if (packages.empty()) return Fail(2, "no driver package in " + source);
  const std::string inf = folder + "\\Windows\\INF";
  if (!bw::ForceDirectories(inf)) return Fail(29, "cannot write into " + inf);
  for (const std::string& package : packages) {
    const std::string name = package.substr(package.rfind('\\') + 1);
    std::printf("Installing %s\n", package.c_str());
    if (!CopyFileA(package.c_str(), (inf + "\\" + name).c_str(), FALSE))
      return Fail(29, "cannot write " + inf + "\\" + name);
  }
  return Done();
}

}  // namespace

// Steered output of the mount step: BW_DISM_OUTPUT_BYTES bytes of text lines, and with
// BW_DISM_OUTPUT_NUL a line holding a NUL byte.
void Chatter() {
  if (standin::EnvInt("BW_DISM_OUTPUT_NUL", 0)) {
    static const char line[] = "before\0after\n";
    std::fwrite(line, 1, sizeof line - 1, stdout);
  }
  long long left = standin::EnvInt("BW_DISM_OUTPUT_BYTES", 0);
  static const char line[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.\n";
  while (left > 0) {
    const size_t n = left < static_cast<long long>(sizeof line - 1) ? static_cast<size_t>(left)
                                                                    : sizeof line - 1;
    std::fwrite(line, 1, n, stdout);
    left -= static_cast<long long>(n);
  }
  std::fflush(stdout);
}

int main() {
  standin::Journal(kName);
  // A slow servicing step, so that a run can be cancelled while the build script waits.
  if (int ms = standin::EnvInt("BW_DISM_DELAY_MS", 0); ms > 0) Sleep(static_cast<DWORD>(ms));
  std::printf("\nDeployment Image Servicing and Management tool (stand-in)\n\n");
  Options o;
  std::string wrong = Parse(standin::SplitWords(standin::ArgumentText()), o);
  if (!wrong.empty()) return Fail(ERROR_INVALID_PARAMETER, wrong);
  if (o.operation == "Mount-Image") {
    Chatter();
    return MountImage(o);
  }
  if (o.operation == "Unmount-Image") return UnmountImage(o);
  if (o.operation == "Cleanup-Mountpoints") return CleanupMountpoints();
  if (o.operation == "Add-Driver") return AddDriver(o);
  return SetSysLocale(o);
}
