// The child's output pipe alone, with threads of this process as the child and as a grandchild
// that inherited the write end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/ChildOutput.h"
#include "support/Handles.h"

namespace {

using bw::ChildOutput;

constexpr std::size_t kForever = SIZE_MAX;

std::string Pattern(std::size_t n) {
  std::string text(n, '\0');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('0' + i % 10);
  return text;
}

// Writes `bytes` of the pattern into its own copy of the write end, then holds the copy until
// the writer goes away or closes it, as a child does when it ends. Declare writers before the
// output: its read end then closes first, which frees a writer blocked on a full pipe.
class Writer {
 public:
  ~Writer() {
    SetEvent(quit_.get());
    if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
  }
  void Start(const ChildOutput& output, std::size_t bytes, bool hold) {
    bytes_ = bytes;
    hold_ = hold;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), output.WriteEnd(), GetCurrentProcess(),
                                pipe_.put(), 0, FALSE, DUPLICATE_SAME_ACCESS));
    thread_.reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
    ASSERT_TRUE(thread_);
  }
  HANDLE Thread() const { return thread_.get(); }

 private:
  static DWORD WINAPI Run(LPVOID self) {
    auto& w = *static_cast<Writer*>(self);
    const std::string block = Pattern(0x10000);
    for (std::size_t done = 0; done < w.bytes_;) {
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(w.bytes_ - done, 0x10000 - 10));
      DWORD written = 0;
      if (!WriteFile(w.pipe_.get(), block.data() + done % 10, chunk, &written, nullptr)) break;
      done += written;
    }
    if (w.hold_) WaitForSingleObject(w.quit_.get(), INFINITE);
    w.pipe_.reset();
    return 0;
  }

  std::size_t bytes_ = 0;
  bool hold_ = false;
  bw::UniqueHandle pipe_;
  bw::UniqueHandle quit_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  bw::UniqueHandle thread_;
};

// What the child wrote is read while it runs; its first bytes are kept, up to the limit.
TEST(ChildOutput, HeadHoldsTheFirstBytesTheChildWrote) {
  for (std::size_t bytes :
       {std::size_t{0}, std::size_t{10}, std::size_t{70000}, std::size_t{4} << 20}) {
    SCOPED_TRACE(bytes);
    Writer child;
    ChildOutput output;
    ASSERT_NO_FATAL_FAILURE(child.Start(output, bytes, false));
    output.CloseWriteEnd();
    output.StartReading();
    // 4 MB do not fit into the pipe: this ends only if the waits drain it.
    while (output.WaitFor(child.Thread(), 100) == WAIT_TIMEOUT) {
    }
    output.Finish(100, [] { return false; });
    EXPECT_EQ(output.Head(), Pattern(std::min(bytes, ChildOutput::kMaxHead)));
  }
}

// After the child's end, a grandchild's copy of the write end holds the finish no longer than
// its limit, and Cancel (stop) ends it at once. A finish that waited for the grandchild would
// take the 60 s of its limit, or for ever.
TEST(ChildOutput, FinishDoesNotWaitForAGrandchild) {
  const struct {
    const char* name;
    std::size_t heirBytes;
    DWORD limitMs;
    bool stop;
  } cases[] = {
      {"quiet grandchild", 0, 60000, false},
      {"grandchild that keeps writing", kForever, 100, false},
      {"grandchild that keeps writing, Cancel", kForever, 60000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer child, heir;
    ChildOutput output;
    ASSERT_NO_FATAL_FAILURE(heir.Start(output, c.heirBytes, true));
    ASSERT_NO_FATAL_FAILURE(child.Start(output, 10, false));
    output.CloseWriteEnd();
    output.StartReading();
    while (output.WaitFor(child.Thread(), 100) == WAIT_TIMEOUT) {
    }
    int asks = 0;
    const ULONGLONG start = GetTickCount64();
    output.Finish(c.limitMs, [&] {
      ++asks;
      return c.stop;
    });
    EXPECT_LT(GetTickCount64() - start, 30000u);
    if (c.stop) {
      EXPECT_EQ(asks, 1);
    }
    if (c.heirBytes == 0) {
      EXPECT_EQ(output.Head(), "0123456789");
    }
  }
}

}  // namespace
