#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "support/Handles.h"
#include "support/MachineLock.h"

namespace {

// Against a holder in another process: refused while it lives, free once it has died without
// releasing the lock.
TEST(TakeMachineLock, RefusedWhileHeldFreeWhenItsHolderDied) {
  const std::string name = "bootwright-test-" + std::to_string(GetCurrentProcessId());
  bwtest::ScratchDir dir("lock");
  std::string command = bwtest::Quote(bwtest::BinDir() + "\\bw_task_child.exe") +
                        " mutex Global\\" + name + " pidfile " + bwtest::Quote(dir / "pid") +
                        " sleep 30000";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &child))
      << GetLastError();
  bw::UniqueHandle process(child.hProcess);
  bw::UniqueHandle thread(child.hThread);
  for (int i = 0; i < 400 && !bwtest::FileExists(dir / "pid"); ++i) Sleep(50);
  ASSERT_TRUE(bwtest::FileExists(dir / "pid")) << "the holder did not start";

  EXPECT_FALSE(bw::TakeMachineLock(name));
  TerminateProcess(process.get(), 1);
  ASSERT_EQ(WaitForSingleObject(process.get(), 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(bw::TakeMachineLock(name));
}

// A name that exists but cannot be opened as the lock (here an event holds it) is another
// run's as far as the lock can tell.
TEST(TakeMachineLock, ANameHeldByAnotherKindOfObjectIsRefused) {
  const std::string name = "bootwright-test-event-" + std::to_string(GetCurrentProcessId());
  const bw::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, ("Global\\" + name).c_str()));
  ASSERT_TRUE(event);
  EXPECT_FALSE(bw::TakeMachineLock(name));
}

}  // namespace
