// File helpers of the kit's stand-ins beyond support/Files.h, and the one container format
// that stands in for both a WIM image and an ISO file: a readable header, then each folder
// and file with its bytes.
//
//   BWIMAGE 1
//   set locale en-US
//   dir Windows\System32
//   file 6 Windows\System32\a.txt
//   <6 bytes>
//   end
//
// Lines end with CR LF; a file's bytes are followed by CR LF. Tests read it with ParseArchive.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "support/Files.h"

namespace standin {

inline std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH * 4];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  std::string full = (n == 0 || n >= sizeof buffer) ? path : std::string(buffer, n);
  while (full.size() > 3 && (full.back() == '\\' || full.back() == '/')) full.pop_back();
  return full;
}

inline std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Writes the file whole, making its folders and replacing a read-only one.
inline bool PutFile(const std::string& path, const std::string& bytes) {
  const std::string parent = ParentOf(path);
  if (!parent.empty() && !bw::ForceDirectories(parent)) return false;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return bw::TryWriteWholeFile(path, bytes);
}

// Every entry below `root`, folders before their contents, as paths relative to it.
inline void ListTree(const std::string& root, const std::string& relative,
                     std::vector<std::string>& folders, std::vector<std::string>& files) {
  std::string base = relative.empty() ? root : root + "\\" + relative;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((base + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> subfolders;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    std::string child = relative.empty() ? name : relative + "\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      subfolders.push_back(child);
    } else {
      files.push_back(child);
    }
  } while (FindNextFileA(find, &found));
  FindClose(find);
  for (const std::string& sub : subfolders) {
    folders.push_back(sub);
    ListTree(root, sub, folders, files);
  }
}

// Removes everything below `root`, read-only files included; keeps `root` itself.
inline bool EmptyFolder(const std::string& root) {
  std::vector<std::string> folders, files;
  ListTree(root, "", folders, files);
  bool ok = true;
  for (const std::string& f : files) {
    std::string path = root + "\\" + f;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ok = DeleteFileA(path.c_str()) && ok;
  }
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    ok = RemoveDirectoryA((root + "\\" + *it).c_str()) && ok;
  }
  return ok;
}

struct Archive {
  std::map<std::string, std::string> settings;  // e.g. "locale" -> "pl-PL"
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files;  // relative path, bytes

  const std::string* Find(const std::string& path) const {
    for (const auto& [name, bytes] : files) {
      if (lstrcmpiA(name.c_str(), path.c_str()) == 0) return &bytes;
    }
    return nullptr;
  }
};

inline std::string SerializeArchive(const Archive& archive) {
  std::string out = "BWIMAGE 1\r\n";
  for (const auto& [key, value] : archive.settings) out += "set " + key + " " + value + "\r\n";
  for (const std::string& folder : archive.folders) out += "dir " + folder + "\r\n";
  for (const auto& [name, bytes] : archive.files) {
    out += "file " + std::to_string(bytes.size()) + " " + name + "\r\n" + bytes + "\r\n";
  }
  return out + "end\r\n";
}

inline bool ParseArchive(const std::string& text, Archive& archive) {
  archive = Archive();
  size_t pos = 0;
  auto line = [&](std::string& out) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) return false;
    out = text.substr(pos, end - pos);
    pos = end + 2;
    return true;
  };
  std::string current;
  if (!line(current) || current != "BWIMAGE 1") return false;
  while (line(current)) {
    if (current == "end") return true;
    size_t blank = current.find(' ');
    if (blank == std::string::npos) return false;
    std::string kind = current.substr(0, blank), rest = current.substr(blank + 1);
    if (kind == "set") {
      size_t b = rest.find(' ');
      if (b == std::string::npos) return false;
      archive.settings[rest.substr(0, b)] = rest.substr(b + 1);
    } else if (kind == "dir") {
      archive.folders.push_back(rest);
    } else if (kind == "file") {
      size_t b = rest.find(' ');
      if (b == std::string::npos) return false;
      size_t size = std::strtoul(rest.substr(0, b).c_str(), nullptr, 10);
      if (pos + size + 2 > text.size()) return false;
      archive.files.emplace_back(rest.substr(b + 1), text.substr(pos, size));
      pos += size + 2;
    } else {
      return false;
    }
  }
  return false;
}

// The tree below `root` as an archive.
inline Archive ArchiveOfTree(const std::string& root, bool& ok) {
  Archive archive;
  std::vector<std::string> files;
  ListTree(root, "", archive.folders, files);
  ok = true;
  for (const std::string& f : files) {
    std::string bytes;
    ok = bw::TryReadWholeFile(root + "\\" + f, bytes) && ok;
    archive.files.emplace_back(f, bytes);
  }
  return archive;
}

// Writes the archive's folders and files below `root`.
inline bool ExtractArchive(const Archive& archive, const std::string& root, bool readOnly) {
  bool ok = bw::ForceDirectories(root);
  for (const std::string& folder : archive.folders)
    ok = bw::ForceDirectories(root + "\\" + folder) && ok;
  for (const auto& [name, bytes] : archive.files) {
    std::string path = root + "\\" + name;
    ok = PutFile(path, bytes) && ok;
    if (readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  return ok;
}

// Mounted images are remembered under HKCU, value name the mount folder, data
// "<image file>|<locale>", so that a later process finds (and discards) them.
inline const char kMountsKey[] = "Software\\Bootwright Stand-ins\\DISM\\Mounted Images";

struct Mount {
  std::string image;
  std::string locale;
};

inline HKEY OpenMounts() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kMountsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

// Every remembered mount folder with its image and locale.
inline std::vector<std::pair<std::string, Mount>> ReadMounts() {
  std::vector<std::pair<std::string, Mount>> mounts;
  HKEY key = OpenMounts();
  if (!key) return mounts;
  for (DWORD i = 0;; ++i) {
    char name[MAX_PATH * 4];
    char data[MAX_PATH * 4];
    DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
    LONG rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                            &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize] = '\0';
    std::string text = data;
    size_t bar = text.find('|');
    Mount m{text.substr(0, bar), bar == std::string::npos ? "" : text.substr(bar + 1)};
    mounts.emplace_back(std::string(name, nameSize), m);
  }
  RegCloseKey(key);
  return mounts;
}

inline bool FindMount(const std::string& folder, Mount& mount) {
  for (const auto& [name, m] : ReadMounts()) {
    if (lstrcmpiA(name.c_str(), folder.c_str()) == 0) {
      mount = m;
      return true;
    }
  }
  return false;
}

inline bool StoreMount(const std::string& folder, const Mount& mount) {
  HKEY key = OpenMounts();
  if (!key) return false;
  std::string data = mount.image + "|" + mount.locale;
  LONG rc =
      RegSetValueExA(key, folder.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>(data.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

inline void ForgetMount(const std::string& folder) {
  HKEY key = OpenMounts();
  if (!key) return;
  RegDeleteValueA(key, folder.c_str());
  RegCloseKey(key);
}

}  // namespace standin
