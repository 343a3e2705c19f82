#include "support/startup/FileProtect.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <set>

#include "support/Errors.h"
#include "support/Paths.h"
#include "support/SystemDlls.h"
#include "support/startup/ProcessUtils.h"
#include "support/startup/WindowsSecurity.h"

namespace bw {

std::unique_ptr<TFileProtectTask> FileProtectTask;

namespace {

char FoldAZ(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsSeparatorBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 0x20;
}

// The one case rule for protected names: ".FBF" in upper case. Names the system finds (its
// search ignores case) are upper-cased before the rule is applied to them.
constexpr char kFbf[] = ".FBF";
bool EndsWithFbf(const std::string& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, kFbf) == 0;
}

// Holds a slim lock for its scope (std::mutex would bring the system_error machinery along).
class Exclusive {
 public:
  explicit Exclusive(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~Exclusive() { ::ReleaseSRWLockExclusive(&lock_); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;

 private:
  SRWLOCK& lock_;
};

// A quoted item from the opening quote at `p`: "" inside stands for one quote; an item
// without its closing quote runs to the end of the text.
std::string ExtractQuoted(const std::string& text, std::size_t& p) {
  std::string item;
  ++p;
  while (p < text.size()) {
    if (text[p] == '"') {
      if (p + 1 < text.size() && text[p + 1] == '"') {
        item += '"';
        p += 2;
        continue;
      }
      ++p;
      return item;
    }
    item += text[p++];
  }
  return item;
}

std::string SidText(PSID sid, const std::string& details) {
  CheckCode(pConvertSidToStringSidA != nullptr, ERROR_OLD_WIN_VERSION, details);
  LPSTR text = nullptr;
  CheckLastError(pConvertSidToStringSidA(sid, &text), details);
  UniqueLocal owned(text);
  return text;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(FoldAZ(x)) < static_cast<unsigned char>(FoldAZ(y));
  });
}

std::vector<std::string> SplitFolderList(const std::string& list) {
  std::vector<std::string> items;
  std::size_t p = 0;
  const std::size_t end = list.size();
  auto skipBlanks = [&] {
    while (p < end && IsSeparatorBlank(list[p])) ++p;
  };
  skipBlanks();
  while (p < end && list[p] != '\0') {
    if (list[p] == '"') {
      items.push_back(ExtractQuoted(list, p));
    } else {
      const std::size_t start = p;
      while (p<end&& static_cast<unsigned char>(list[p])> 0x20 && list[p] != ';') ++p;
      items.push_back(list.substr(start, p - start));
    }
    skipBlanks();
    if (p < end && list[p] == ';') {
      if (p + 1 == end) items.emplace_back();
      ++p;
      skipBlanks();
    }
  }
  // Sorted without duplicates; of equal items the first one stays.
  const std::set<std::string, CaseInsensitiveLess> sorted(items.begin(), items.end());
  return {sorted.begin(), sorted.end()};
}

std::string ExtractFileDrive(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    // Up to the backslash that ends the share name.
    const auto server = path.find('\\', 2);
    if (server == std::string::npos) return path;
    const auto share = path.find('\\', server + 1);
    return share == std::string::npos ? path : path.substr(0, share);
  }
  return {};
}

std::string GetCurrentUserSid() {
  CheckCode(pConvertSidToStringSidA != nullptr, ERROR_OLD_WIN_VERSION, "CrrentUserSID");
  UniqueHandle token;
  CheckLastError(
      ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | READ_CONTROL, token.put()));
  DWORD size = 0;
  if (::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size) ||
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    RaiseLastOSErrorEx();
  }
  std::vector<BYTE> buffer(size);
  CheckLastError(::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size));
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  CheckLastError(::IsValidSid(sid));
  LPSTR text = nullptr;
  CheckLastError(pConvertSidToStringSidA(sid, &text));
  UniqueLocal owned(text);
  return text;
}

std::string GetRemoteUserSid(const std::string& path) {
  const std::string drive = ExtractFileDrive(path);

  char user[MAX_PATH] = {};
  DWORD length = sizeof user;
  CheckWin32Error(sys::WNetGetUserA(drive.c_str(), user, &length), drive);

  std::string remote = drive;
  if (drive.find("\\\\") == std::string::npos) {
    char connection[MAX_PATH] = {};
    length = sizeof connection;
    CheckWin32Error(sys::WNetGetConnectionA(drive.c_str(), connection, &length), drive);
    remote = connection;
  }
  std::string server = remote.size() > 2 ? remote.substr(2) : std::string();
  server = server.substr(0, server.find('\\'));

  BYTE sid[1025] = {};
  DWORD sidSize = sizeof sid;
  char domain[MAX_PATH] = {};
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use{};
  const std::string account = std::string(user) + "@" + server;
  CheckLastError(
      ::LookupAccountNameA(server.c_str(), user, sid, &sidSize, domain, &domainSize, &use),
      account);
  return SidText(sid, account + std::to_string(sidSize));
}

std::string FileSecurityDescriptor(int mode, const std::string& sid) {
  switch (mode) {
    case 0:
      return "D:PAI(A;OICINP;FA;;;WD)";
    case 2:
      return "D:PAI(A;OICINP;FA;;;" + sid + ")(A;OICINP;0x1200a9;;;WD)";
    case 3:
      return "D:PAI(A;OICINP;FA;;;" + sid + ")";
    default:
      return {};
  }
}

void SetFileDACL(const std::string& path, const std::string& descriptor) {
  CheckCode(pConvertStringSecurityDescriptorToSecurityDescriptorA != nullptr, ERROR_OLD_WIN_VERSION,
            "SetFileDACL");
  PSECURITY_DESCRIPTOR sd = nullptr;
  CheckLastError(pConvertStringSecurityDescriptorToSecurityDescriptorA(
                     descriptor.c_str(), SDDL_REVISION_1, &sd, nullptr),
                 path + ":" + descriptor);
  UniqueLocal owned(sd);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  CheckLastError(::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
  std::string name = path;
  CheckWin32Error(::SetNamedSecurityInfoA(
      name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr));
}

bool ApplyFileSecurity(int mode, const std::string& path, const std::string& ownerSid) {
  const std::string drive = ExtractFileDrive(path);
  const bool remote = path.rfind("\\\\", 0) == 0 ||
                      (!drive.empty() && ::GetDriveTypeA((drive + "\\").c_str()) == DRIVE_REMOTE);
  const std::string account = remote ? GetRemoteUserSid(path) : ownerSid;
  const std::string descriptor = FileSecurityDescriptor(mode, account);
  if (descriptor.empty()) return false;
  try {
    SetFileDACL(path, descriptor);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TFileProtectTask::TFileProtectTask() : TFileProtectTask(Options{}) {}

TFileProtectTask::TFileProtectTask(Options options) : options_(std::move(options)) {
  OwnerSid = GetCurrentUserSid();
  folderList_ = options_.folderList;
  mode_ = options_.mode;
  if (!options_.apply) {
    options_.apply = [this](int mode, const std::string& path) {
      return ApplyFileSecurity(mode, path, OwnerSid);
    };
  }
  if (!options_.start) return;
  stopEvent_.reset(CheckLastError(::CreateEventA(nullptr, TRUE, FALSE, nullptr)));
  DWORD id = 0;
  thread_.reset(
      CheckLastError(::CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &id)));
  ::SetThreadPriority(thread_.get(), THREAD_PRIORITY_LOWEST);
  ::ResumeThread(thread_.get());
}

TFileProtectTask::~TFileProtectTask() {
  Terminate();
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

void TFileProtectTask::Terminate() {
  terminated_.store(true);
  if (stopEvent_) ::SetEvent(stopEvent_.get());
}

bool TFileProtectTask::Finished() const {
  return !thread_ || ::WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0;
}

DWORD WINAPI TFileProtectTask::ThreadProc(LPVOID self) {
  // Whatever escapes a pass (a failed look-up of a remote user) ends the thread quietly; the
  // process and the task object live on.
  try {
    static_cast<TFileProtectTask*>(self)->Execute();
  } catch (...) {
  }
  return 0;
}

void TFileProtectTask::Execute() {
  while (Wait()) {
    Scan();
    Apply();
  }
}

bool TFileProtectTask::Wait() {
  WakeRequested.store(false);
  const DWORD slice = options_.sliceMs ? options_.sliceMs : 1;
  const DWORD slices = options_.periodMs / slice;
  for (DWORD i = 0; i < slices; ++i) {
    if (WakeRequested.load() || terminated_.load()) break;
    // The stop event cuts the slice short; a wake request is seen at the next slice.
    if (stopEvent_) {
      ::WaitForSingleObject(stopEvent_.get(), slice);
    } else {
      ::Sleep(slice);
    }
  }
  return !terminated_.load();
}

void TFileProtectTask::SetFolderList(std::string folderList) {
  Exclusive guard(lock_);
  folderList_ = std::move(folderList);
}

void TFileProtectTask::SetMode(BYTE mode) {
  Exclusive guard(lock_);
  mode_ = mode;
}

TFileProtectTask::FileMap TFileProtectTask::Files() const {
  Exclusive guard(lock_);
  return files_;
}

std::uint64_t TFileProtectTask::Generation() const {
  Exclusive guard(lock_);
  return generation_;
}

void TFileProtectTask::Scan() {
  std::uint64_t generation = 0;
  std::string folderList;
  {
    Exclusive guard(lock_);
    generation = ++generation_;
    folderList = folderList_;
  }
  std::vector<std::string> seen;
  for (std::string item : SplitFolderList(folderList)) {
    if (!item.empty() && item.back() == '\\') item.pop_back();
    if (item.empty()) continue;
    if (EndsWithFbf(item) && item.find(kFbf) == item.size() - 4) {
      seen.push_back(item);
      continue;
    }
    WIN32_FIND_DATAA found{};
    UniqueFindHandle find(::FindFirstFileA(JoinPath({item, "*.FBF"}).c_str(), &found));
    if (!find) continue;
    do {
      // The pattern also matches through short 8.3 names (a.fbfx as A~1.FBF); only real
      // .FBF names count.
      const std::string name = UpperAZ(found.cFileName);
      if (EndsWithFbf(name)) seen.push_back(JoinPath({item, name}));
    } while (::FindNextFileA(find.get(), &found));
  }
  std::vector<std::string> dropped;
  {
    Exclusive guard(lock_);
    for (const std::string& path : seen) {
      auto [entry, added] = files_.try_emplace(path, TFolderData{generation, 0});
      if (!added) entry->second.Generation = generation;
    }
    for (auto entry = files_.begin(); entry != files_.end();) {
      if (entry->second.Generation != generation) {
        dropped.push_back(entry->first);
        entry = files_.erase(entry);
      } else {
        ++entry;
      }
    }
  }
  // Purge: a file no longer listed gets the open access list back and leaves the list.
  for (const std::string& path : dropped) options_.apply(0, path);
}

void TFileProtectTask::Apply() {
  BYTE mode = 0;
  std::vector<std::string> pending;
  {
    Exclusive guard(lock_);
    mode = mode_;
    for (const auto& [path, data] : files_) {
      if (data.AppliedMode != mode) pending.push_back(path);
    }
  }
  for (const std::string& path : pending) {
    if (!options_.apply(mode, path)) continue;
    Exclusive guard(lock_);
    if (auto entry = files_.find(path); entry != files_.end()) entry->second.AppliedMode = mode;
  }
}

void InitFileProtect() { FileProtectTask = std::make_unique<TFileProtectTask>(); }

void FinalizeFileProtect() { FileProtectTask.reset(); }

}  // namespace bw
