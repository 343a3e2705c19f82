// A child's standard output and error, read while the child runs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "support/Handles.h"

namespace bw {

// The child writes into a pipe whose read end is overlapped, so the waiting loop can drain it
// as data arrive without a thread of its own and without ever waiting for the writers to
// close: a grandchild that inherited the write end may outlive the child.
class ChildOutput {
 public:
  static constexpr std::size_t kMaxHead = 0xFFFF;  // the first bytes shown in the log
  static constexpr std::size_t kMaxTail = 4096;    // and the last, when there are more

  ChildOutput();
  ~ChildOutput();
  ChildOutput(const ChildOutput&) = delete;
  ChildOutput& operator=(const ChildOutput&) = delete;

  // Inheritable: the child's standard output and standard error.
  HANDLE WriteEnd() const { return writeEnd_.get(); }
  // Once the child holds its copy: the pipe then breaks when the child and its heirs are gone.
  void CloseWriteEnd() { writeEnd_.reset(); }
  void StartReading();

  // As WaitForSingleObject(task, ms), taking the output that arrives meanwhile.
  DWORD WaitFor(HANDLE task, DWORD ms);

  // After the child's end every byte it wrote is in the pipe or already taken: take what is
  // there now and stop, without waiting for writers that outlive it. One that keeps writing
  // is read for `limitMs` at most, and `stop` (asked between reads) ends it sooner.
  void Finish(DWORD limitMs, const std::function<bool()>& stop);

  // What the log shows: everything the child wrote, or when that is more than kMaxHead and
  // kMaxTail together, its first kMaxHead bytes, a line that counts the bytes left out, and
  // its last kMaxTail bytes, which hold a script's closing line.
  std::string Shown() const;

 private:
  enum class State {
    kIdle,     // no read started yet
    kReading,  // a read was issued and its result not yet taken: buffer and OVERLAPPED in use
    kBroken,   // every writer has gone (or a read failed): nothing more comes
    kStopped,  // finished; no read is ever started again
  };

  bool TakeCompleted();  // true when a finished read was taken (and the next one issued)
  void Issue();
  void Keep(DWORD got);
  void StopReading();

  UniqueFileHandle readEnd_;
  UniqueFileHandle writeEnd_;
  UniqueHandle event_;
  OVERLAPPED overlapped_ = {};
  std::vector<char> buffer_;
  State state_ = State::kIdle;
  std::string head_;
  std::string tail_;              // at most kMaxTail of what came after the head
  unsigned long long after_ = 0;  // how much came after the head
};

}  // namespace bw
