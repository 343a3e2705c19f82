// Files and folders by path. Two failure styles over one implementation: the Try forms and
// ForceDirectories return FALSE and leave the reason as the thread's last error (for callers
// that decide for themselves); ReadWholeFile and WriteWholeFile raise EOSError with the path
// as details.
#pragma once

#include <windows.h>

#include <string>

#include "support/Errors.h"

namespace bw {

// True for a file, false for a folder or nothing.
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// Creates the folder and every missing parent; trailing backslashes are ignored. A file in
// the way fails.
BOOL ForceDirectories(const std::string& folder);

// Removes the file, or the folder with everything below it; a missing one is success. A link
// to a folder is removed, never followed: what it leads to stays.
BOOL TryRemoveTree(const std::string& folder);

// On failure `bytes` holds what was read before it.
BOOL TryReadWholeFile(const std::string& path, std::string& bytes);
// Replaces the file; its folder must exist.
BOOL TryWriteWholeFile(const std::string& path, const std::string& bytes);

// The machine a program file is built for (IMAGE_FILE_MACHINE_*, from its PE header);
// IMAGE_FILE_MACHINE_UNKNOWN for a file that is no program or cannot be read.
WORD ProgramMachine(const std::string& path);

// Inline, so that programs using only the forms above need nothing of Errors.cpp.
inline std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  CheckLastError(TryReadWholeFile(path, bytes), path);
  return bytes;
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  CheckLastError(TryWriteWholeFile(path, bytes), path);
}

}  // namespace bw
