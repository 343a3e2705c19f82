// Keeps the access lists of listed files (single .FBF files, or every .FBF file in a listed
// folder) at the chosen protection mode, from a low-priority thread that wakes every 145 s.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Handles.h"

namespace bw {

// Letter case of a to z ignored; a strict order for sorted path lists.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// One protected file.
struct TFolderData {
  std::uint64_t Generation = 0;  // the scan that last saw the file
  int AppliedMode = 0;           // the mode last applied with success
};

// Items separated by ";" or by blanks and control characters; an item with blanks in double
// quotes ("" inside for one quote); ";;" and a final ";" give an empty item. Sorted, letter
// case ignored, duplicates dropped.
std::vector<std::string> SplitFolderList(const std::string& list);

// "C:" for a drive path, "\\server\share" for a UNC path, else empty.
std::string ExtractFileDrive(const std::string& path);

// The SID text of the user who runs the process; raises on any failure.
std::string GetCurrentUserSid();

// The SID text of the user through whom a network path is connected; raises on failure.
std::string GetRemoteUserSid(const std::string& path);

// The access-list text of a mode for the account's SID, empty for a mode without one:
// 0 everyone full; 2 the account full, everyone read and execute; 3 the account alone.
std::string FileSecurityDescriptor(int mode, const std::string& sid);

// Replaces the access list of `path` with that of the descriptor text; raises on failure.
void SetFileDACL(const std::string& path, const std::string& descriptor);

// Applies a mode to a file for its owner: the remote user on network paths, else ownerSid.
// False for a mode without an access list or when setting it fails. A failing look-up of
// the remote user raises.
bool ApplyFileSecurity(int mode, const std::string& path, const std::string& ownerSid);

class TFileProtectTask {
 public:
  using ApplyFunction = std::function<bool(int mode, const std::string& path)>;
  struct Options {
    DWORD periodMs = 145000;
    DWORD sliceMs = 500;
    ApplyFunction apply;     // empty: ApplyFileSecurity for OwnerSid
    bool start = true;       // false: no thread; the owner runs Scan and Apply itself
    std::string folderList;  // set before the thread starts
    BYTE mode = 0;
  };

  TFileProtectTask();
  explicit TFileProtectTask(Options options);
  // Asks the thread to end, waits for it and frees the entries.
  ~TFileProtectTask();
  TFileProtectTask(const TFileProtectTask&) = delete;
  TFileProtectTask& operator=(const TFileProtectTask&) = delete;

  using FileMap = std::map<std::string, TFolderData, CaseInsensitiveLess>;

  std::string OwnerSid;  // set before the thread starts, never changed
  std::atomic<bool> WakeRequested{false};

  // The list and the mode may change while the thread runs; it takes them at its next pass.
  void SetFolderList(std::string folderList);
  void SetMode(BYTE mode);
  // Copies taken under the lock, safe beside the thread.
  FileMap Files() const;
  std::uint64_t Generation() const;

  // Sleeps one period in slices; false when termination was asked for.
  bool Wait();
  // Marks every listed file with a new generation, then drops (after a reset to mode 0)
  // the files that were not seen.
  void Scan();
  // Applies the mode to every file that does not have it yet.
  void Apply();

  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // The thread has ended (or never ran).
  bool Finished() const;

 private:
  static DWORD WINAPI ThreadProc(LPVOID self);
  void Execute();

  Options options_;
  // Guards the four below. The thread alone changes files_ and generation_, and never calls
  // the apply function while it holds the lock.
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  FileMap files_;
  std::uint64_t generation_ = 0;
  std::string folderList_;
  BYTE mode_ = 0;
  std::atomic<bool> terminated_{false};
  UniqueHandle stopEvent_;
  UniqueHandle thread_;
};

// The process's one task, from the FileProtect start-up section to its finalization.
extern std::unique_ptr<TFileProtectTask> FileProtectTask;

void InitFileProtect();
void FinalizeFileProtect();

}  // namespace bw
