#include "pipeline/ChildOutput.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "support/Errors.h"

namespace bw {

namespace {

constexpr DWORD kPipeBufferSize = 0x100000;
constexpr DWORD kReadChunk = 0x100000;
constexpr int kReadBurst = 16;

DWORD MsUntil(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

}  // namespace

ChildOutput::ChildOutput() : buffer_(kReadChunk) {
  static std::atomic<unsigned> serial{0};
  const std::string name = "\\\\.\\pipe\\bootwright-output-" +
                           std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++);
  readEnd_.reset(CreateNamedPipeA(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
      kPipeBufferSize, 0, nullptr));
  CheckLastError(static_cast<bool>(readEnd_));
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  writeEnd_.reset(CreateFileA(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  CheckLastError(static_cast<bool>(writeEnd_));
  event_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  CheckLastError(static_cast<bool>(event_));
}

ChildOutput::~ChildOutput() { StopReading(); }

void ChildOutput::StartReading() {
  if (state_ == State::kIdle) Issue();
}

DWORD ChildOutput::WaitFor(HANDLE task, DWORD ms) {
  if (state_ != State::kReading) return WaitForSingleObject(task, ms);
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    HANDLE handles[2] = {task, event_.get()};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, MsUntil(deadline));
    if (result != WAIT_OBJECT_0 + 1) return result;
    TakeCompleted();
    if (state_ != State::kReading || GetTickCount64() >= deadline) {
      return WaitForSingleObject(task, MsUntil(deadline));
    }
  }
}

void ChildOutput::Finish(DWORD limitMs, const std::function<bool()>& stop) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  while (state_ == State::kReading && !stop()) {
    if (!TakeCompleted() && state_ == State::kReading) {
      // Under way: worth waiting for only while the pipe holds bytes that the read is taking.
      DWORD available = 0;
      if (!PeekNamedPipe(readEnd_.get(), nullptr, 0, nullptr, &available, nullptr) ||
          available == 0) {
        break;
      }
      const DWORD left = MsUntil(deadline);
      if (left == 0) break;
      WaitForSingleObject(event_.get(), left);
    }
    if (GetTickCount64() >= deadline) break;
  }
  StopReading();
}

bool ChildOutput::TakeCompleted() {
  if (state_ != State::kReading) return false;
  DWORD got = 0;
  if (!GetOverlappedResult(readEnd_.get(), &overlapped_, &got, FALSE)) {
    if (GetLastError() != ERROR_IO_INCOMPLETE) state_ = State::kBroken;
    return false;
  }
  Keep(got);
  Issue();
  return true;
}

// Reads that complete at once are taken here, a few in a row, so a fast writer costs one wait
// per burst rather than one per read.
void ChildOutput::Issue() {
  for (int burst = 0;; ++burst) {
    overlapped_ = {};
    overlapped_.hEvent = event_.get();
    const BOOL done = ReadFile(readEnd_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()),
                               nullptr, &overlapped_);
    if (!done && GetLastError() != ERROR_IO_PENDING) {
      state_ = State::kBroken;
      return;
    }
    state_ = State::kReading;
    if (!done || burst == kReadBurst) return;  // the event tells when it is there
    DWORD got = 0;
    if (!GetOverlappedResult(readEnd_.get(), &overlapped_, &got, FALSE)) {
      state_ = State::kBroken;
      return;
    }
    Keep(got);
  }
}

std::string ChildOutput::Shown() const {
  if (after_ <= tail_.size()) return head_ + tail_;
  std::string shown = head_;
  if (shown.back() != '\n') shown += "\r\n";
  return shown + "... " + std::to_string(after_ - tail_.size()) +
         " bytes of output left out ...\r\n" + tail_;
}

void ChildOutput::Keep(DWORD got) {
  const std::size_t toHead = std::min<std::size_t>(got, kMaxHead - head_.size());
  head_.append(buffer_.data(), toHead);
  const std::size_t rest = got - toHead;
  if (rest == 0) return;
  after_ += rest;
  const char* end = buffer_.data() + got;
  if (rest >= kMaxTail) {
    tail_.assign(end - kMaxTail, kMaxTail);
  } else {
    tail_.append(end - rest, rest);
    if (tail_.size() > kMaxTail) tail_.erase(0, tail_.size() - kMaxTail);
  }
}

// The read must be over before its buffer and OVERLAPPED go away.
void ChildOutput::StopReading() {
  if (state_ == State::kReading) {
    CancelIoEx(readEnd_.get(), &overlapped_);
    DWORD got = 0;
    if (GetOverlappedResult(readEnd_.get(), &overlapped_, &got, TRUE)) Keep(got);
  }
  state_ = State::kStopped;
}

}  // namespace bw
