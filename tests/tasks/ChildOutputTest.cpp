// The child's output pipe alone; the test writes as the child and as a grandchild.
#include <gtest/gtest.h>

#include <string>

#include "pipeline/ChildOutput.h"
#include "support/Handles.h"

namespace {

using bw::ChildOutput;

std::string Pattern(std::size_t n) {
  std::string text(n, '\0');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('0' + i % 10);
  return text;
}

// A child that wrote `bytes` of the pattern and ended. Returns the copy of the write end that
// a grandchild of its would hold.
bw::UniqueHandle ChildWrote(ChildOutput& output, std::size_t bytes) {
  bw::UniqueHandle heir;
  EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), output.WriteEnd(), GetCurrentProcess(),
                              heir.put(), 0, FALSE, DUPLICATE_SAME_ACCESS));
  const std::string text = Pattern(bytes);
  DWORD written = 0;
  EXPECT_TRUE(bytes == 0 || WriteFile(output.WriteEnd(), text.data(), static_cast<DWORD>(bytes),
                                      &written, nullptr));
  output.CloseWriteEnd();
  output.StartReading();
  return heir;
}

// All of it while it fits into head and tail; beyond that the head, the count of what is left
// out, and the tail.
TEST(ChildOutput, ShowsTheHeadAndTheTailOfWhatTheChildWrote) {
  const struct {
    std::size_t bytes;
    std::size_t leftOut;
  } cases[] = {{0, 0}, {10, 0}, {65535, 0}, {65535 + 4096, 0}, {65535 + 4097, 1}, {70000, 369}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    ChildOutput output;
    ChildWrote(output, c.bytes).reset();  // no grandchild: the pipe breaks
    output.Finish(100, [] { return false; });
    const std::string all = Pattern(c.bytes);
    EXPECT_EQ(output.Shown(), c.leftOut == 0
                                  ? all
                                  : all.substr(0, 65535) + "\r\n... " + std::to_string(c.leftOut) +
                                        " bytes of output left out ...\r\n" +
                                        all.substr(c.bytes - 4096));
  }
}

// A grandchild's copy of the write end holds the finish no longer than its limit, and stop
// (Cancel) ends it sooner. When asked, the grandchild writes more, so the pipe is never found
// empty. A finish that waited for the grandchild would take the 60 s of its limit, or for ever.
TEST(ChildOutput, FinishDoesNotWaitForAGrandchild) {
  const struct {
    const char* name;
    bool writes;
    DWORD limitMs;
    int stopAt;  // the ask that says stop, or 0
  } cases[] = {
      {"quiet grandchild", false, 60000, 0},
      {"grandchild that keeps writing", true, 100, 0},
      {"grandchild that keeps writing, Cancel", true, 60000, 2},
  };
  const std::string more = Pattern(0x10000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChildOutput output;
    const bw::UniqueHandle heir = ChildWrote(output, 10);
    int asks = 0;
    const ULONGLONG start = GetTickCount64();
    output.Finish(c.limitMs, [&] {
      DWORD written = 0;
      if (c.writes) WriteFile(heir.get(), more.data(), 0x10000, &written, nullptr);
      // After 30 s also, so that a fault fails here instead of hanging.
      return ++asks == c.stopAt || GetTickCount64() - start > 30000;
    });
    EXPECT_LT(GetTickCount64() - start, 30000u);
    if (c.stopAt != 0) {
      EXPECT_EQ(asks, c.stopAt);
    }
    EXPECT_EQ(output.Shown().substr(0, 10), "0123456789");
    EXPECT_EQ(output.Shown().size() > 10, c.writes);
  }
}

}  // namespace
