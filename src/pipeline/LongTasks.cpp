#include "pipeline/LongTasks.h"

#include <cstring>
#include <vector>

#include "pipeline/ChildOutput.h"
#include "support/Errors.h"
#include "support/Files.h"
#include "support/Handles.h"
#include "support/Paths.h"
#include "support/Signature.h"
#include "support/SystemDlls.h"

namespace bw {

namespace {

constexpr DWORD kPollMs = 100;
constexpr int kStepsPerWeight = 10;
constexpr DWORD kCancelledExitCode = ERROR_CANCELLED;     // 1223
constexpr DWORD kDownloadPathLength = MAX_PATH;           // the buffer holds one more, for the NUL
constexpr DWORD kDownloadFlags = BINDF_GETNEWESTVERSION;  // never an old copy
constexpr DWORD kChildStartupFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;  // 0x101
constexpr DWORD kChildCreationFlags = NORMAL_PRIORITY_CLASS;                       // 0x20

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

// The last part of the URL's path, which must be a plain file name.
std::string UrlFileName(const std::string& url) {
  std::string name = url.substr(0, url.find_first_of("?#"));
  name.erase(0, name.find_last_of('/') + 1);
  CheckCode(!name.empty() && name != "." && name != ".." &&
                name.find_first_of("\\:*\"<>|") == std::string::npos,
            ERROR_INVALID_NAME, url);
  return name;
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
  std::string copy;  // where the checked file is run from
  VerifiedFile file;
  std::string error;
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
    job->file =
        CopyVerifiedFile(DownloadToCache(job->url, job->publisher), job->copy, job->publisher);
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
  return output_ ? output_->WaitFor(task, kPollMs) : WaitForSingleObject(task, kPollMs);
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
  job->copy = JoinPath({fields_.WorkDir, "Downloads", UrlFileName(url)});
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
  output.Finish(kPollMs, [this] {
    view_.ProcessMessages();
    return fields_.CancelRequested;
  });
  const std::string shown = output.Shown();
  if (!shown.empty()) AddLog(OemToAnsiString(shown));
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
  const HRESULT result = sys::URLDownloadToCacheFileA(nullptr, url.c_str(), buffer,
                                                      kDownloadPathLength, kDownloadFlags, nullptr);
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

VerifiedFile CopyVerifiedFile(const VerifiedFile& file, const std::string& target,
                              const std::string& publisher) {
  CheckLastError(ForceDirectories(target.substr(0, target.find_last_of('\\'))), target);
  {
    UniqueFileHandle copy(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    CheckLastError(static_cast<bool>(copy), target);
    CheckLastError(SetFilePointerEx(file.hold.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN), target);
    std::vector<char> buffer(1 << 16);
    DWORD got = 0;
    while (CheckLastError(ReadFile(file.hold.get(), buffer.data(),
                                   static_cast<DWORD>(buffer.size()), &got, nullptr),
                          target) &&
           got != 0) {
      DWORD written = 0;
      CheckLastError(WriteFile(copy.get(), buffer.data(), got, &written, nullptr), target);
    }
  }
  return HoldVerifiedFile(target, publisher);
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
