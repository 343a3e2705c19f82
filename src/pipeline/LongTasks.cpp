#include "pipeline/LongTasks.h"

#include <urlmon.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/Errors.h"
#include "support/Handles.h"
#include "support/Signature.h"

namespace bw {

namespace {

constexpr DWORD kPollMs = 100;
constexpr int kStepsPerWeight = 10;
constexpr DWORD kCancelledExitCode = ERROR_CANCELLED;  // 1223
constexpr DWORD kPipeBufferSize = 0x100000;
constexpr std::size_t kMaxShownOutput = 0xFFFF;
constexpr DWORD kDownloadPathLength = MAX_PATH;  // the buffer holds one more, for the NUL
constexpr DWORD kDownloadFlags = BINDF_GETNEWESTVERSION;  // never an old copy
constexpr DWORD kChildStartupFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;  // 0x101
constexpr DWORD kChildCreationFlags = NORMAL_PRIORITY_CLASS;                       // 0x20
constexpr DWORD kReadChunk = 0x100000;
constexpr int kReadBurst = 16;

// The download thread's form of an OS error: it also names codes (HRESULTs of the trust
// service) that have no text of the library's own.
[[noreturn]] void RaiseSystemError(DWORD code) {
  SetLastError(code);
  throw EOSError(SystemErrorMessage(code), code);
}

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// Runs f when the scope ends, however it ends.
template <typename F>
class OnExit {
 public:
  explicit OnExit(F f) : f_(std::move(f)) {}
  ~OnExit() { f_(); }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

 private:
  F f_;
};

}  // namespace

struct DownloadJob {
  std::string url;
  std::string publisher;
  VerifiedFile file;
  std::string error;
};

// The child writes into a pipe whose read end is overlapped, so the waiting loop can drain it
// as data arrive without a thread of its own and without ever waiting for the writers to
// close: a grandchild that inherited the write end may outlive the child.
class ChildOutput {
 public:
  ChildOutput() : buffer_(kReadChunk) {
    static std::atomic<unsigned> serial{0};
    char name[96];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\bootwright-output-%lu-%u",
                  static_cast<unsigned long>(GetCurrentProcessId()), serial++);
    readEnd_.reset(CreateNamedPipeA(
        name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
        kPipeBufferSize, 0, nullptr));
    CheckLastError(static_cast<bool>(readEnd_));
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    writeEnd_.reset(CreateFileA(name, GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    CheckLastError(static_cast<bool>(writeEnd_));
    event_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CheckLastError(static_cast<bool>(event_));
  }

  ~ChildOutput() { StopReading(); }
  ChildOutput(const ChildOutput&) = delete;
  ChildOutput& operator=(const ChildOutput&) = delete;

  HANDLE WriteEnd() const { return writeEnd_.get(); }
  // Once the child holds its copy: the pipe then breaks when the child and its heirs are gone.
  void CloseWriteEnd() { writeEnd_.reset(); }

  HANDLE ReadyEvent() const { return event_.get(); }
  bool Reading() const { return pending_; }

  void StartReading() { Issue(); }

  // After ReadyEvent was signalled: keep what the read brought and start the next one.
  void TakeCompleted() {
    if (!pending_) return;
    DWORD got = 0;
    if (!GetOverlappedResult(readEnd_.get(), &overlapped_, &got, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) return;
      pending_ = false;  // broken: every writer has gone
      return;
    }
    pending_ = false;
    Keep(got);
    Issue();
  }

  // After the child's end every byte it wrote is in the pipe or already taken: take what is
  // there now and stop, without waiting for writers that outlive it. One that keeps writing
  // is read for one poll at most, and `stop` (asked between reads) ends it sooner.
  template <typename Stop>
  void Finish(Stop&& stop) {
    const ULONGLONG deadline = GetTickCount64() + kPollMs;
    while (pending_ && !stop()) {
      DWORD got = 0;
      if (GetOverlappedResult(readEnd_.get(), &overlapped_, &got, FALSE)) {
        pending_ = false;
        Keep(got);
        Issue();
      } else if (GetLastError() != ERROR_IO_INCOMPLETE) {
        pending_ = false;
        break;
      } else {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd_.get(), nullptr, 0, nullptr, &available, nullptr) ||
            available == 0) {
          break;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        // the pending read is taking those bytes
        WaitForSingleObject(event_.get(), static_cast<DWORD>(deadline - now));
      }
      if (GetTickCount64() >= deadline) break;
    }
    StopReading();
  }

  // The first bytes the child wrote, at most kMaxShownOutput.
  const std::string& Head() const { return head_; }

 private:
  // Starts the next read. Reads that complete at once are taken here, a few in a row, so
  // a fast writer costs one wait per burst rather than one per read.
  void Issue() {
    for (int burst = 0;; ++burst) {
      overlapped_ = {};
      overlapped_.hEvent = event_.get();
      const BOOL done = ReadFile(readEnd_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()),
                                 nullptr, &overlapped_);
      if (!done && GetLastError() != ERROR_IO_PENDING) {
        pending_ = false;  // broken: every writer has gone
        return;
      }
      pending_ = true;
      if (!done || burst == kReadBurst) return;  // the event tells when it is there
      DWORD got = 0;
      pending_ = false;
      if (!GetOverlappedResult(readEnd_.get(), &overlapped_, &got, FALSE)) return;
      Keep(got);
    }
  }

  void Keep(DWORD got) {
    const std::size_t room = kMaxShownOutput - head_.size();
    head_.append(buffer_.data(), std::min<std::size_t>(got, room));
  }

  // The read must be over before its buffer and OVERLAPPED go away.
  void StopReading() {
    if (!pending_) return;
    CancelIoEx(readEnd_.get(), &overlapped_);
    DWORD got = 0;
    if (GetOverlappedResult(readEnd_.get(), &overlapped_, &got, TRUE)) Keep(got);
    pending_ = false;
  }

  UniqueFileHandle readEnd_;
  UniqueFileHandle writeEnd_;
  UniqueHandle event_;
  OVERLAPPED overlapped_ = {};
  std::vector<char> buffer_;
  bool pending_ = false;
  std::string head_;
};

namespace {

// The download service is a COM service: the thread is in the multithreaded apartment for as
// long as this lives.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

DWORD WINAPI DownloadThreadProc(LPVOID parameter) {
  std::shared_ptr<DownloadJob> job;
  {
    std::unique_ptr<std::shared_ptr<DownloadJob>> handedOver(
        static_cast<std::shared_ptr<DownloadJob>*>(parameter));
    job = std::move(*handedOver);
  }
  const ComApartment apartment;
  try {
    job->error.clear();
    job->file = DownloadToCache(job->url, job->publisher);
  } catch (const Exception& e) {
    job->error = e.Message();
  } catch (const std::exception& e) {
    job->error = e.what();
  }
  return 0;
}

}  // namespace

LongTasks::LongTasks(TaskFields& fields, TaskView& view) : fields_(fields), view_(view) {}

LongTasks::~LongTasks() = default;

void LongTasks::AddLog(const std::string& text) {
  view_.LogAddLine(text);
  view_.LogAddLine("");
  view_.LogScrollToEnd();
  view_.ProcessMessages();
}

// One poll: like waiting on the task for kPollMs, but a running command's output is taken
// as it arrives.
DWORD LongTasks::WaitOnce(HANDLE task) {
  if (!output_ || !output_->Reading()) return WaitForSingleObject(task, kPollMs);
  const ULONGLONG deadline = GetTickCount64() + kPollMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    HANDLE handles[2] = {task, output_->ReadyEvent()};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, left);
    if (result != WAIT_OBJECT_0 + 1) return result;
    output_->TakeCompleted();
    if (!output_->Reading() || GetTickCount64() >= deadline) {
      const ULONGLONG after = GetTickCount64();
      return WaitForSingleObject(task,
                                 after >= deadline ? 0 : static_cast<DWORD>(deadline - after));
    }
  }
}

void LongTasks::WaitForTask(int weight) {
  view_.ProgressSetPosition(view_.ProgressMin());
  view_.ProgressSetMax(weight * kStepsPerWeight);
  while (WaitOnce(fields_.TaskHandle) == WAIT_TIMEOUT) {
    view_.ProgressStepIt();
    if (view_.ProgressPosition() >= view_.ProgressMax()) {
      view_.ProgressSetPosition(view_.ProgressMin());
    }
    view_.ProcessMessages();
    CheckCancelled();
  }
  CollectDownload();
  if (!fields_.DownloadError.empty()) throw EAbort(fields_.DownloadError);
}

// The thread has ended: only now are its results read, and copied where the run sees them.
void LongTasks::CollectDownload() {
  if (!download_ || WaitForSingleObject(downloadThread_, 0) != WAIT_OBJECT_0) return;
  fields_.DownloadError = download_->error;
  if (download_->error.empty()) {
    fields_.DownloadedFile = download_->file.path;
    downloadedHold_ = std::move(download_->file.hold);
  }
  downloadCollected_ = true;
}

void LongTasks::CheckCancelled() {
  if (!fields_.CancelRequested) return;
  if (fields_.TaskHandle) {
    if (download_ && fields_.TaskHandle == downloadThread_) {
      // Abandoned, never killed: a thread killed inside the download service could leave its
      // locks taken for good. It finishes on its own, into its own job.
      download_.reset();
    } else {
      TerminateProcess(fields_.TaskHandle, kCancelledExitCode);
    }
  }
  fields_.TaskHandle = nullptr;
  throw EAbort("Cancelled.");
}

void LongTasks::DownloadFile(const std::string& url, int weight, const std::string& publisher) {
  AddLog("Downloading " + url + " ...");
  fields_.DownloadUrl = url;
  downloadedHold_.reset();  // the service may want to write where the last one lies

  auto job = std::make_shared<DownloadJob>();
  job->url = url;
  job->publisher = publisher;
  auto handOver = std::make_unique<std::shared_ptr<DownloadJob>>(job);
  UniqueHandle thread(CreateThread(nullptr, 0, DownloadThreadProc, handOver.get(), 0, nullptr));
  CheckLastError(static_cast<bool>(thread));
  static_cast<void>(handOver.release());  // the thread owns it now

  const OnExit leave([this] {
    fields_.TaskHandle = nullptr;
    fields_.DownloadError.clear();
    download_.reset();
    downloadThread_ = nullptr;
  });
  fields_.TaskHandle = thread.get();
  download_ = job;
  downloadThread_ = thread.get();
  downloadCollected_ = false;

  WaitForTask(weight);
  if (!downloadCollected_ || !downloadedHold_) RaiseLastOSErrorEx();
  fields_.TaskHandle = nullptr;
}

void LongTasks::RunCommand(const std::string& commandLine, int weight, WORD showWindow) {
  AddLog("Executing " + commandLine + " ...");

  ChildOutput output;
  // The child reads nothing: an empty input, never the pipe that holds its own output.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  UniqueFileHandle input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr));
  CheckLastError(static_cast<bool>(input));

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = kChildStartupFlags;
  startup.wShowWindow = showWindow;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.WriteEnd();
  startup.hStdError = output.WriteEnd();
  PROCESS_INFORMATION child = {};
  std::vector<char> command(commandLine.begin(), commandLine.end());
  command.push_back('\0');
  CheckLastError(CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                                kChildCreationFlags, nullptr, nullptr, &startup, &child));
  UniqueHandle process(child.hProcess);
  UniqueHandle thread(child.hThread);
  output.CloseWriteEnd();
  input.reset();
  output.StartReading();

  const OnExit leave([this] {
    output_ = nullptr;
    fields_.TaskHandle = nullptr;
  });
  fields_.TaskHandle = process.get();
  output_ = &output;
  WaitForTask(weight);
  output_ = nullptr;
  fields_.TaskHandle = nullptr;  // ended: nothing left for Cancel to end

  // A Cancel pressed while the last output is read ends the run like one pressed earlier,
  // but the child has ended, so what it wrote is shown first.
  output.Finish([this] {
    view_.ProcessMessages();
    return fields_.CancelRequested;
  });
  if (!output.Head().empty()) AddLog(OemToAnsiString(output.Head()));
  CheckCancelled();

  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = 0;
  thread.reset();
  process.reset();
  fields_.TaskHandle = nullptr;
  CheckCode(exitCode == 0, exitCode);
}

void LongTasks::bCancelClick() { fields_.CancelRequested = true; }

VerifiedFile DownloadToCache(const std::string& url, const std::string& publisher) {
  char buffer[kDownloadPathLength + 1] = {};
  const HRESULT result = URLDownloadToCacheFileA(nullptr, url.c_str(), buffer, kDownloadPathLength,
                                                 kDownloadFlags, nullptr);
  if (result != S_OK) {
    throw Exception("Cannot download the file. Error: 0x" + HexText(static_cast<DWORD>(result)));
  }
  return HoldVerifiedFile(std::string(buffer, strnlen(buffer, sizeof buffer)), publisher);
}

VerifiedFile HoldVerifiedFile(const std::string& path, const std::string& publisher) {
  // Checked by name, run by name: any process of the user could swap the file in between,
  // and the file is about to run elevated.
  VerifiedFile file{
      path, UniqueFileHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))};
  if (!file.hold) RaiseSystemError(GetLastError());
  std::string signer;
  if (!VerifyFileSignature(file.hold.get(), ToWide(path), signer)) {
    RaiseSystemError(GetLastError());
  }
  // A valid signature proves only that someone signed the file; over plain HTTP anyone can
  // have.
  if (signer != publisher) {
    throw Exception("The downloaded file is signed by \"" + signer + "\", not by \"" + publisher +
                    "\".");
  }
  return file;
}

// Converts every byte, also past a NUL, which the plain conversion would stop at.
std::string OemToAnsiString(const std::string& text) {
  std::string result(text.size(), '\0');
  if (!text.empty()) {
    OemToCharBuffA(text.data(), result.data(), static_cast<DWORD>(text.size()));
  }
  return result;
}

}  // namespace bw
