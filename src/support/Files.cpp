#include "support/Files.h"

#include <algorithm>

#include "support/Handles.h"

namespace bw {

namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

// Closes the file without letting the close change the last error the caller is to see.
BOOL FailClosing(UniqueFileHandle& file) {
  const DWORD error = GetLastError();
  file.reset();
  SetLastError(error);
  return FALSE;
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL ForceDirectories(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  if (path.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (FolderExists(path)) return TRUE;
  const size_t slash = path.find_last_of('\\');
  if (slash != std::string::npos && slash > 0 && !ForceDirectories(path.substr(0, slash))) {
    return FALSE;
  }
  if (CreateDirectoryA(path.c_str(), nullptr)) return TRUE;
  const DWORD error = GetLastError();
  if (FolderExists(path)) return TRUE;  // made meanwhile by someone else
  SetLastError(error);
  return FALSE;
}

BOOL TryRemoveTree(const std::string& folder) {
  const DWORD attributes = Attributes(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return TRUE;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesA(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(folder.c_str());
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (find) {
      do {
        const std::string name = entry.cFileName;
        if (name != "." && name != ".." && !TryRemoveTree(folder + "\\" + name)) return FALSE;
      } while (FindNextFileA(find.get(), &entry));
    }
  }
  return RemoveDirectoryA(folder.c_str());
}

BOOL TryReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return FALSE;
  char buffer[65536];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return FailClosing(file);
    if (got == 0) return TRUE;
    bytes.append(buffer, got);
  }
}

BOOL TryWriteWholeFile(const std::string& path, const std::string& bytes) {
  UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return FALSE;
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) {
      return FailClosing(file);
    }
    if (written != chunk) {
      SetLastError(ERROR_WRITE_FAULT);
      return FailClosing(file);
    }
    done += written;
  }
  return TRUE;
}

WORD ProgramMachine(const std::string& path) {
  UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const auto readAt = [&file](LONG offset, void* data, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    DWORD got = 0;
    return ReadFile(file.get(), data, size, &got, &at) && got == size;
  };
  IMAGE_DOS_HEADER dos = {};
  if (!file || !readAt(0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
      dos.e_lfanew < 0) {
    return IMAGE_FILE_MACHINE_UNKNOWN;
  }
  struct {
    DWORD signature;
    IMAGE_FILE_HEADER header;
  } nt = {};
  if (!readAt(dos.e_lfanew, &nt, sizeof nt) || nt.signature != IMAGE_NT_SIGNATURE) {
    return IMAGE_FILE_MACHINE_UNKNOWN;
  }
  return nt.header.Machine;
}

}  // namespace bw
