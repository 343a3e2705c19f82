// The long-running tasks with real child processes, pipes, files and a local HTTP server.
#include <gtest/gtest.h>

#include <string>

#include "TasksTestSupport.h"
#include "common/TestSupport.h"
#include "pipeline/LongTasks.h"
#include "support/Errors.h"
#include "support/Handles.h"

namespace {

// The stand-ins that these tests download are signed as the product's maker.
const std::string kPublisher = "Tessel Software";

using bwtest::ChildCommand;

std::string Pattern(size_t n) {
  std::string text(n, '\0');
  for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>('0' + i % 10);
  return text;
}

std::string ReadPid(const std::string& path) { return bwtest::ReadFileBytes(path); }

HANDLE OpenPid(const std::string& pid) {
  return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                     static_cast<DWORD>(std::stoul(pid)));
}

// The tasks over a recording window. A task still running after 30 s of polls is cancelled,
// so a fault that hangs fails the test instead of stalling the run.
struct Tasks : ::testing::Test {
  bw::TaskFields fields;
  bwtest::RecordingView view;
  bw::LongTasks tasks{fields, view};
  void SetUp() override { CancelAfter(300); }
  void CancelAfter(int polls) {
    view.onPump = [this, polls] {
      if (view.steps >= polls) tasks.bCancelClick();
    };
  }
};

using RunCommand = Tasks;
using WaitForTask = Tasks;

TEST_F(RunCommand, LogsTheCommandThenItsOutputInOneEntry) {
  const std::string quiet = ChildCommand("");
  tasks.RunCommand(quiet, 5, SW_HIDE);
  EXPECT_EQ(view.Entries(), std::vector<std::string>{"Executing " + quiet + " ..."});
  EXPECT_EQ(view.lines.at(1), "");
  EXPECT_EQ(fields.TaskHandle, nullptr);

  view.lines.clear();
  const std::string talks = ChildCommand("out 10 err XY hex 0d0a stdin");
  tasks.RunCommand(talks, 5, SW_SHOW);
  // Standard error shares the pipe; standard input is empty, not the child's own output.
  EXPECT_EQ(view.Entries(),
            (std::vector<std::string>{"Executing " + talks + " ...", "0123456789XY\r\nstdin:0"}));
  EXPECT_EQ(view.lines.size(), 4u);
  EXPECT_EQ(view.lines.at(3), "");
}

TEST_F(RunCommand, ShowsTheFirst65535BytesAndTheLast4096) {
  tasks.RunCommand(ChildCommand("out 70000"), 5, SW_HIDE);
  ASSERT_EQ(view.Entries().size(), 2u);
  EXPECT_EQ(view.Entries()[1], Pattern(65535) + "\r\n... 369 bytes of output left out ...\r\n" +
                                   Pattern(70000).substr(70000 - 4096));
}

TEST_F(RunCommand, SixteenMegabytesOfOutputDoNotBlockTheChild) {
  tasks.RunCommand(ChildCommand("out 16777216"), 5, SW_HIDE);
  ASSERT_EQ(view.Entries().size(), 2u);
  EXPECT_EQ(view.Entries()[1], Pattern(65535) +
                                   "\r\n... 16707585 bytes of output left out ...\r\n" +
                                   Pattern(16777216).substr(16777216 - 4096));
}

TEST_F(RunCommand, ConvertsOemBytesPastANul) {
  std::string hex;
  std::string oem;
  for (int c = 0x80; c <= 0xFF; ++c) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", c);
    hex += pair;
    oem.push_back(static_cast<char>(c));
  }
  // The system's own conversion of the same bytes (it stops at a NUL, so none inside).
  std::string expected(oem.size() + 1, '\0');
  ASSERT_TRUE(OemToCharA(oem.c_str(), expected.data()));
  expected.resize(oem.size());
  ASSERT_NE(expected, oem) << "this code page converts nothing: the case proves nothing";
  expected += std::string(1, '\0') + "A" + expected.substr(1, 1);

  tasks.RunCommand(ChildCommand("hex " + hex + "0041" + hex.substr(2, 2)), 5, SW_HIDE);
  ASSERT_EQ(view.Entries().size(), 2u);
  EXPECT_EQ(view.Entries()[1].size(), 131u);
  EXPECT_EQ(view.Entries()[1], expected);
  EXPECT_EQ(bw::OemToAnsiString(oem + '\0' + "A" + oem.substr(1, 1)), expected);
  EXPECT_EQ(bw::OemToAnsiString(""), "");
}

TEST_F(RunCommand, ReturnsWhileAGrandchildStillHoldsThePipe) {
  bwtest::ScratchDir dir("tasks");
  tasks.RunCommand(ChildCommand("out 10 grandchild " + bwtest::Quote(dir / "g.pid")), 5, SW_HIDE);
  EXPECT_EQ(view.Entries().at(1), "0123456789");
  bw::UniqueHandle grandchild(OpenPid(ReadPid(dir / "g.pid")));
  ASSERT_TRUE(grandchild);
  EXPECT_EQ(WaitForSingleObject(grandchild.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(grandchild.get(), 0);
}

// A grandchild that goes on writing after the child has ended holds the end of the command
// for about one poll, and the window's messages are handled meanwhile: a Cancel pressed then
// ends the run, after the output read so far.
TEST_F(RunCommand, AGrandchildThatKeepsWritingHoldsTheEndOnlyBriefly) {
  bwtest::ScratchDir dir("tasks");
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "Cancel while the last output is read" : "no Cancel");
    const std::string pid = dir / (cancel ? "g1.pid" : "g0.pid");
    const std::string command =
        ChildCommand("out 10 heir " + bwtest::Quote(pid) + " \"stream 30000\" sleep 500");
    // The wait steps the bar before each pump; reading the last output does not.
    int lastSteps = -1;
    bool clicked = false;
    bool clickedBeforeOutput = false;
    view.onPump = [&] {
      if (cancel && view.steps == lastSteps && !clicked) {
        clicked = true;
        tasks.bCancelClick();
      }
      lastSteps = view.steps;
    };
    view.onLine = [&](const std::string& line) {
      if (line.rfind("0123456789", 0) == 0) clickedBeforeOutput = clicked;
    };
    view.lines.clear();
    const ULONGLONG start = GetTickCount64();
    std::string outcome = "ended";
    try {
      tasks.RunCommand(command, 5, SW_HIDE);
    } catch (const bw::EAbort& e) {
      outcome = e.Message();
    }
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_EQ(outcome, cancel ? "Cancelled." : "ended");
    EXPECT_EQ(clickedBeforeOutput, cancel);
    ASSERT_EQ(view.Entries().size(), 2u);
    EXPECT_EQ(view.Entries()[1].rfind("01234567890123456789\r\n", 0), 0u);
    bw::UniqueHandle grandchild(OpenPid(ReadPid(pid)));
    if (grandchild) TerminateProcess(grandchild.get(), 0);
    fields.CancelRequested = false;
  }
}

TEST_F(RunCommand, MissingProgramFailsWithCode2BeforeAnyWait) {
  const std::string command = "\"Z:\\no-such-folder\\no-such-program.exe\" x";
  EXPECT_TRUE(bwtest::RaisesOSError([&] { tasks.RunCommand(command, 5, SW_HIDE); }, 2,
                                    bw::ErrorCodeMessage(2)));
  EXPECT_EQ(view.Entries(), std::vector<std::string>{"Executing " + command + " ..."});
  EXPECT_TRUE(view.maxima.empty()) << "it waited";
  EXPECT_EQ(fields.TaskHandle, nullptr);
}

TEST_F(RunCommand, NonZeroExitRaisesItsCodeAfterTheOutputWasLogged) {
  const std::string command = ChildCommand("hex 6f6b exit 7");
  EXPECT_TRUE(bwtest::RaisesOSError([&] { tasks.RunCommand(command, 5, SW_HIDE); }, 7,
                                    bw::ErrorCodeMessage(7)));
  EXPECT_EQ(view.Entries(), (std::vector<std::string>{"Executing " + command + " ...", "ok"}));
  EXPECT_EQ(fields.TaskHandle, nullptr);
}

// Cancel ends the child alone (with 1223), logs none of its output and leaks nothing.
TEST_F(RunCommand, CancelTerminatesOnlyTheChild) {
  bwtest::ScratchDir dir("tasks");
  DWORD handlesAfterFirst = 0;
  for (int round = 0; round < 2; ++round) {
    const std::string childPid = dir / ("c" + std::to_string(round) + ".pid");
    const std::string grandchildPid = dir / ("g" + std::to_string(round) + ".pid");
    bw::UniqueHandle child, grandchild;
    int cancelledAt = -1;
    view.onPump = [&] {
      if (!child && bwtest::FileExists(childPid)) child.reset(OpenPid(ReadPid(childPid)));
      if (!grandchild && bwtest::FileExists(grandchildPid)) {
        grandchild.reset(OpenPid(ReadPid(grandchildPid)));
      }
      if ((child && grandchild) || view.steps >= 300) {
        cancelledAt = view.steps;
        tasks.bCancelClick();
      }
    };
    view.lines.clear();
    const std::string command =
        ChildCommand("out 100 grandchild " + bwtest::Quote(grandchildPid) + " pidfile " +
                     bwtest::Quote(childPid) + " sleep 30000");
    EXPECT_EQ(bwtest::MessageOf<bw::EAbort>([&] { tasks.RunCommand(command, 5, SW_HIDE); }),
              "Cancelled.");
    ASSERT_TRUE(child && grandchild);
    EXPECT_EQ(view.steps, cancelledAt) << "polled again after the click";
    EXPECT_EQ(view.Entries(), std::vector<std::string>{"Executing " + command + " ..."});
    EXPECT_EQ(fields.TaskHandle, nullptr);
    EXPECT_TRUE(fields.CancelRequested);
    ASSERT_EQ(WaitForSingleObject(child.get(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(child.get(), &code);
    EXPECT_EQ(code, 1223u);
    EXPECT_EQ(WaitForSingleObject(grandchild.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(grandchild.get(), 0);
    WaitForSingleObject(grandchild.get(), 5000);
    child.reset();
    grandchild.reset();
    fields.CancelRequested = false;
    view.steps = 0;
    if (round == 0) handlesAfterFirst = bwtest::CountHandles();
  }
  EXPECT_EQ(bwtest::CountHandles(), handlesAfterFirst);
}

TEST_F(WaitForTask, BarSweepsOncePerWeightAndStartsAgainEachWait) {
  tasks.RunCommand(ChildCommand("sleep 1600"), 1, SW_HIDE);
  EXPECT_EQ(view.maxima, std::vector<int>{10});
  EXPECT_GT(view.steps, 10);
  EXPECT_EQ(view.highest, 10);
  EXPECT_EQ(view.position, view.steps % 10);

  view.position = 7;
  view.steps = 0;
  tasks.RunCommand(ChildCommand("sleep 400"), 2, SW_HIDE);
  EXPECT_EQ(view.maxima, (std::vector<int>{10, 20}));
  EXPECT_GT(view.steps, 0);
  EXPECT_EQ(view.position, view.steps);
}

TEST_F(WaitForTask, EndsAtOnceWithoutATaskAndRaisesAPendingDownloadError) {
  tasks.WaitForTask(3);
  EXPECT_EQ(view.maxima, std::vector<int>{30});
  EXPECT_EQ(view.steps, 0);

  fields.DownloadError = "it broke";
  EXPECT_EQ(bwtest::MessageOf<bw::EAbort>([&] { tasks.WaitForTask(3); }), "it broke");
}

TEST_F(WaitForTask, CancelPressedBeforeTheWaitActsAtItsFirstPoll) {
  tasks.bCancelClick();
  EXPECT_THROW(tasks.RunCommand(ChildCommand("sleep 5000"), 5, SW_HIDE), bw::EAbort);
  EXPECT_EQ(view.steps, 1);
  EXPECT_EQ(fields.TaskHandle, nullptr);
}

// Downloads from the local server that CTest keeps up for these tests.
struct DownloadFile : Tasks {
  std::string base;
  bwtest::ScratchDir work{"work"};
  void SetUp() override {
    Tasks::SetUp();
    base = bwtest::HttpBase(BW_TASKS_HTTP_STATE);
    ASSERT_FALSE(base.empty()) << "the test HTTP server is not running (CTest starts it)";
    fields.DownloadedFile = "earlier.exe";
    fields.WorkDir = work.Path();
  }
  // The message of the EAbort that the download ends with.
  std::string Failure(const std::string& url) {
    return bwtest::MessageOf<bw::EAbort>([&] { tasks.DownloadFile(url, 5, kPublisher); });
  }
  void ExpectIdle() {
    EXPECT_EQ(fields.TaskHandle, nullptr);
    EXPECT_EQ(fields.DownloadError, "");
  }
};

// The checked file runs from its copy in the working folder, made anew by every download; a
// copy that cannot be made fails with its path.
TEST_F(DownloadFile, SignedFileIsCopiedIntoTheDownloadsFolder) {
  const std::string url = base + "bw_task_child_signed.exe";
  for (int round = 0; round < 2; ++round) {
    view.lines.clear();
    tasks.DownloadFile(url, 5, kPublisher);
    EXPECT_EQ(view.Entries(), std::vector<std::string>{"Downloading " + url + " ..."});
    EXPECT_EQ(fields.DownloadUrl, url);
    EXPECT_EQ(fields.DownloadedFile, work / "Downloads\\bw_task_child_signed.exe");
    EXPECT_EQ(bwtest::ReadFileBytes(fields.DownloadedFile),
              bwtest::ReadFileBytes(bwtest::BinDir() + "\\bw_task_child_signed.exe"));
    ExpectIdle();
  }
  const std::string blocked = work / "Downloads\\bw_task_child_slow.exe";
  ASSERT_TRUE(bw::ForceDirectories(blocked));
  EXPECT_EQ(Failure(base + "bw_task_child_slow.exe"),
            bw::ComposeErrorMessage(ERROR_ACCESS_DENIED, {blocked}));
}

TEST_F(DownloadFile, RefusedPortGivesTheServiceCode) {
  EXPECT_EQ(Failure("http://127.0.0.1:1/refused.exe"),
            "Cannot download the file. Error: 0x800C0008");
  EXPECT_EQ(fields.DownloadedFile, "earlier.exe");
  ExpectIdle();
}

// The service takes a 404 page for the file; its missing signature fails it.
TEST_F(DownloadFile, NotFoundFailsAndKeepsTheLastFile) {
  EXPECT_NE(Failure(base + "no-such-file.exe"), "");
  EXPECT_EQ(fields.DownloadedFile, "earlier.exe");
  ExpectIdle();
}

TEST_F(DownloadFile, UnsignedFileGivesTheOsErrorText) {
  const std::string message = Failure(base + "bw_task_child.exe");
  EXPECT_EQ(message, bw::SystemErrorMessage(static_cast<DWORD>(TRUST_E_NOSIGNATURE)));
  EXPECT_EQ(fields.DownloadedFile, "earlier.exe");
  ExpectIdle();
}

// A valid signature by someone else, or by the maker where the kit was expected, is no
// better than none: the file is not handed on.
TEST_F(DownloadFile, OnlyTheExpectedPublishersSignaturePasses) {
  EXPECT_EQ(Failure(base + "bw_task_child_stranger.exe"),
            "The downloaded file is signed by \"Bootwright Test Signing\", not by \"Tessel "
            "Software\".");
  EXPECT_EQ(fields.DownloadedFile, "earlier.exe");
  ExpectIdle();

  EXPECT_EQ(bwtest::MessageOf<bw::EAbort>([&] {
              tasks.DownloadFile(base + "bw_task_child_signed.exe", 5, "Microsoft Corporation");
            }),
            "The downloaded file is signed by \"Tessel Software\", not by "
            "\"Microsoft Corporation\".");
  EXPECT_EQ(fields.DownloadedFile, "earlier.exe");
  ExpectIdle();
}

// What was checked is what runs: from the check on, nobody can write, rename or delete the
// file, also while it runs.
TEST_F(DownloadFile, TheCheckedFileCannotBeChangedBeforeOrWhileItRuns) {
  tasks.DownloadFile(base + "bw_task_child_signed.exe", 5, kPublisher);
  const std::string file = fields.DownloadedFile;
  auto expectRefused = [&file](const char* when) {
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
      bw::UniqueFileHandle other(CreateFileA(file.c_str(), access,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
      EXPECT_FALSE(other) << "opened for 0x" << std::hex << access << " " << when;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << when;
    }
  };
  expectRefused("before the run");
  int pumps = 0;
  view.onPump = [&] {
    if (++pumps == 2) expectRefused("while it runs");
  };
  tasks.RunCommand(bwtest::Quote(file) + " sleep 500", 5, SW_HIDE);
  EXPECT_GE(pumps, 2);
}

TEST_F(DownloadFile, AFileHeldOpenForWritingFailsTheCheck) {
  bwtest::ScratchDir dir("held");
  const std::string copy = dir / "setup.exe";
  ASSERT_TRUE(
      CopyFileA((bwtest::BinDir() + "\\bw_task_child_signed.exe").c_str(), copy.c_str(), FALSE));
  bw::UniqueFileHandle writer(CreateFileA(copy.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer);
  EXPECT_TRUE(bwtest::RaisesOSError([&] { bw::HoldVerifiedFile(copy, kPublisher); },
                                    ERROR_SHARING_VIOLATION,
                                    bw::SystemErrorMessage(ERROR_SHARING_VIOLATION)));
  writer.reset();
  EXPECT_TRUE(bw::HoldVerifiedFile(copy, kPublisher).hold);
}

// Cancel ends the step at once; the abandoned thread, still downloading, never touches what
// the next download leaves behind, and leaves nothing behind once it has ended. (The first
// round grows the download service's own worker pool; the second must not grow anything.)
TEST_F(DownloadFile, CancelAbandonsTheThreadWithinOnePoll) {
  DWORD handlesAfterFirst = 0;
  for (int round = 0; round < 2; ++round) {
    fields.DownloadedFile = "earlier.exe";
    fields.CancelRequested = false;
    view.steps = 0;
    view.onPump = [this] {
      if (view.steps == 2) tasks.bCancelClick();
    };
    EXPECT_EQ(Failure(base + "slow/2000/bw_task_child_slow.exe"), "Cancelled.");
    EXPECT_EQ(view.steps, 2) << "polled again after the click";
    EXPECT_EQ(fields.DownloadedFile, "earlier.exe");
    ExpectIdle();

    fields.CancelRequested = false;
    CancelAfter(300);
    tasks.DownloadFile(base + "bw_task_child_signed.exe", 5, kPublisher);
    const std::string later = fields.DownloadedFile;
    EXPECT_NE(later.find("bw_task_child_signed"), std::string::npos);
    Sleep(2500);  // the abandoned download has ended by now
    EXPECT_EQ(fields.DownloadedFile, later);
    ExpectIdle();
    if (round == 0) handlesAfterFirst = bwtest::CountHandles();
  }
  EXPECT_EQ(bwtest::CountHandles(), handlesAfterFirst) << "the abandoned thread left handles";
}

// The process ends cleanly while a download it gave up on still runs. (Run through the
// tasks themselves, which do not wait for the end of the output. A window made here first
// has Wine start its desktop process from this test rather than from the child: started from
// the child, it keeps CTest's output stream open.)
TEST_F(DownloadFile, ProcessEndsWhileADownloadIsAbandoned) {
  DestroyWindow(
      CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  bwtest::ScopedEnv env;
  env.Set("BW_TASKS_ABANDON_AND_EXIT", "1");
  tasks.RunCommand(bwtest::Quote(self) + " --gtest_filter=DownloadFile.AbandonAndExit", 5, SW_HIDE);
  ASSERT_EQ(view.Entries().size(), 2u);
  EXPECT_NE(view.Entries()[1].find("[  PASSED  ] 1 test"), std::string::npos) << view.Entries()[1];
}

TEST_F(DownloadFile, AbandonAndExit) {
  if (!GetEnvironmentVariableA("BW_TASKS_ABANDON_AND_EXIT", nullptr, 0)) {
    GTEST_SKIP() << "run by ProcessEndsWhileADownloadIsAbandoned";
  }
  view.onPump = [this] {
    if (view.steps == 1) tasks.bCancelClick();
  };
  EXPECT_EQ(Failure(base + "slow/3000/bw_task_child_slow.exe"), "Cancelled.");
}

TEST_F(Tasks, NoHandleLeaksOverAHundredCommandsAndDownloads) {
  const std::string base = bwtest::HttpBase(BW_TASKS_HTTP_STATE);
  ASSERT_FALSE(base.empty());
  const bwtest::ScratchDir work("work");
  fields.WorkDir = work.Path();
  auto round = [&](int i) {
    view.steps = 0;  // the watchdog's polls count per round, however slow the machine
    // Odd rounds take the failing paths: a non-zero exit, an unsigned file.
    try {
      tasks.RunCommand(ChildCommand(i % 2 ? "out 100 exit 3" : "out 100"), 5, SW_HIDE);
    } catch (const bw::EOSError&) {
    }
    try {
      tasks.DownloadFile(base + (i % 2 ? "bw_task_child.exe" : "bw_task_child_signed.exe"), 5,
                         kPublisher);
    } catch (const bw::EAbort&) {
    }
  };
  round(0);
  round(1);
  const DWORD afterOne = bwtest::CountHandles();
  for (int i = 0; i < 100; ++i) round(i);
  EXPECT_EQ(bwtest::CountHandles(), afterOne);
  EXPECT_EQ(view.Entries().size(), 3u * 102);  // command, its output, download
}

}  // namespace
