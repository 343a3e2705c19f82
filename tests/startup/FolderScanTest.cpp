#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/TestSupport.h"
#include "support/Errors.h"
#include "support/startup/FileProtect.h"
#include "support/startup/WindowsSecurity.h"

namespace {

using Items = std::vector<std::string>;

TEST(SplitFolderList, SeparatorsQuotesAndEmptyItems) {
  EXPECT_EQ(bw::SplitFolderList(""), Items{});
  EXPECT_EQ(bw::SplitFolderList("b;a"), (Items{"a", "b"}));
  EXPECT_EQ(bw::SplitFolderList("  a ;\t b\r\n c  "), (Items{"a", "b", "c"}));
  EXPECT_EQ(bw::SplitFolderList("C:\\My Data"), (Items{"C:\\My", "Data"}));
  EXPECT_EQ(bw::SplitFolderList("\"C:\\My Data\";x"), (Items{"C:\\My Data", "x"}));
  EXPECT_EQ(bw::SplitFolderList("\"say \"\"hi\"\"\""), (Items{"say \"hi\""}));
  EXPECT_EQ(bw::SplitFolderList("\"open end"), (Items{"open end"}));
  EXPECT_EQ(bw::SplitFolderList("a;;b"), (Items{"", "a", "b"}));
  EXPECT_EQ(bw::SplitFolderList("a;"), (Items{"", "a"}));
  EXPECT_EQ(bw::SplitFolderList("a ; "), (Items{"a"}));
  // Sorted without regard to letter case; of two equal items the first one stays.
  EXPECT_EQ(bw::SplitFolderList("B;a;b"), (Items{"a", "B"}));
}

// Records every mode applied to a path; paths in `failing` report failure.
struct Recorder {
  std::vector<std::pair<int, std::string>> calls;
  std::set<std::string> failing;
  bw::TFileProtectTask::ApplyFunction Function() {
    return [this](int mode, const std::string& path) {
      calls.emplace_back(mode, path);
      return failing.count(path) == 0;
    };
  }
};

class FolderScan : public ::testing::Test {
 protected:
  void SetUp() override {
    bw::InitWindowsSecurity();
    root = dir.Path();
    for (const char* folder : {"\\A", "\\x.FBF", "\\x.FBF\\y.FBF", "\\lower.fbf", "\\My Data"}) {
      ASSERT_TRUE(CreateDirectoryA((root + folder).c_str(), nullptr)) << folder;
    }
    for (const char* file :
         {"\\A\\one.FBF", "\\A\\two.fbf", "\\A\\note.txt", "\\x.FBF\\y.FBF\\inner.FBF",
          "\\lower.fbf\\z.FBF", "\\My Data\\d.FBF"}) {
      ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(root + file, "data"));
    }
  }

  std::unique_ptr<bw::TFileProtectTask> Task(bw::TFileProtectTask::ApplyFunction apply) {
    bw::TFileProtectTask::Options options;
    options.start = false;
    options.apply = std::move(apply);
    return std::make_unique<bw::TFileProtectTask>(options);
  }

  static std::vector<std::string> Keys(const bw::TFileProtectTask& task) {
    std::vector<std::string> keys;
    for (const auto& [path, data] : task.Files()) keys.push_back(path);
    return keys;
  }

  bwtest::ScratchDir dir{"bw-scan"};
  std::string root;
};

TEST_F(FolderScan, ListedFilesAndFolders) {
  Recorder recorder;
  auto task = Task(recorder.Function());
  task->SetFolderList("\"" + root + "\\My Data\";\t" + root + "\\A\\\r\n " + root +
                      "\\A\\ONE.FBF ; " + root + "\\x.FBF\\y.FBF;;" + root + "\\lower.fbf;" + root +
                      "\\single.FBF\\;");
  task->Scan();
  std::set<std::string, bw::CaseInsensitiveLess> expected = {
      root + "\\A\\ONE.FBF",               // reached through the folder and by name: once
      root + "\\A\\TWO.FBF",               // a match's name is upper-cased
      root + "\\My Data\\D.FBF",           // quoted item with a blank
      root + "\\x.FBF\\y.FBF\\INNER.FBF",  // .FBF inside the path: a folder
      root + "\\lower.fbf\\Z.FBF",         // .fbf in lower case: a folder
      root + "\\single.FBF",               // a single file; trailing backslash dropped
  };
  EXPECT_EQ(Keys(*task), std::vector<std::string>(expected.begin(), expected.end()));
  for (const auto& [path, data] : task->Files()) {
    EXPECT_EQ(data.Generation, 1u) << path;
    EXPECT_EQ(data.AppliedMode, 0) << path;
  }
  EXPECT_TRUE(recorder.calls.empty()) << "mode 0 is what every new entry has";
}

TEST_F(FolderScan, UnquotedBlankSplitsTheFolder) {
  Recorder recorder;
  auto task = Task(recorder.Function());
  task->SetFolderList(root + "\\My Data");
  task->Scan();
  EXPECT_TRUE(task->Files().empty());
}

TEST_F(FolderScan, ApplyOncePerModeAndRetryFailures) {
  Recorder recorder;
  auto task = Task(recorder.Function());
  task->SetFolderList(root + "\\A");
  task->SetMode(2);
  recorder.failing.insert(root + "\\A\\TWO.FBF");
  task->Scan();
  task->Apply();
  EXPECT_EQ(recorder.calls, (std::vector<std::pair<int, std::string>>{{2, root + "\\A\\ONE.FBF"},
                                                                      {2, root + "\\A\\TWO.FBF"}}));
  EXPECT_EQ(task->Files().at(root + "\\A\\ONE.FBF").AppliedMode, 2);
  EXPECT_EQ(task->Files().at(root + "\\A\\TWO.FBF").AppliedMode, 0);

  recorder.calls.clear();
  recorder.failing.clear();
  task->Scan();
  task->Apply();
  EXPECT_EQ(recorder.calls, (std::vector<std::pair<int, std::string>>{{2, root + "\\A\\TWO.FBF"}}));
  EXPECT_EQ(task->Files().at(root + "\\A\\TWO.FBF").AppliedMode, 2);
}

TEST_F(FolderScan, FileThatLeavesTheFolderIsResetOnceAndDropped) {
  Recorder recorder;
  auto task = Task(recorder.Function());
  task->SetFolderList(root + "\\A");
  task->SetMode(3);
  task->Scan();
  task->Apply();
  ASSERT_EQ(task->Files().size(), 2u);
  ASSERT_TRUE(DeleteFileA((root + "\\A\\two.fbf").c_str()));

  recorder.calls.clear();
  recorder.failing.insert(root + "\\A\\TWO.FBF");  // the reset fails: it is not retried
  task->Scan();
  EXPECT_EQ(task->Generation(), 2u);
  EXPECT_EQ(recorder.calls, (std::vector<std::pair<int, std::string>>{{0, root + "\\A\\TWO.FBF"}}));
  EXPECT_EQ(Keys(*task), (std::vector<std::string>{root + "\\A\\ONE.FBF"}));
  EXPECT_EQ(task->Files().at(root + "\\A\\ONE.FBF").Generation, 2u);

  recorder.calls.clear();
  task->Scan();
  task->Apply();
  EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(FolderScan, ModeOneAppliesNothingAndIsTriedEveryPass) {
  Recorder recorder;
  auto task = Task(nullptr);
  const std::string owner = task->OwnerSid;
  task = Task([&](int mode, const std::string& path) {
    recorder.calls.emplace_back(mode, path);
    return bw::ApplyFileSecurity(mode, path, owner);
  });
  task->SetFolderList(root + "\\A\\ONE.FBF");
  task->SetMode(1);
  for (int pass = 0; pass < 2; ++pass) {
    task->Scan();
    task->Apply();
  }
  EXPECT_EQ(recorder.calls, (std::vector<std::pair<int, std::string>>{{1, root + "\\A\\ONE.FBF"},
                                                                      {1, root + "\\A\\ONE.FBF"}}));
  EXPECT_EQ(task->Files().at(root + "\\A\\ONE.FBF").AppliedMode, 0);
}

// The thread: the 145 s wait in 500 ms slices, stop and wake requests.
TEST(FileProtectTask, StopsWithinOneSliceWhenIdle) {
  bw::InitWindowsSecurity();
  auto task = std::make_unique<bw::TFileProtectTask>();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(task->Finished());
  const auto start = std::chrono::steady_clock::now();
  task.reset();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(500));
}

TEST(FileProtectTask, WakeRequestCutsTheWaitShort) {
  bw::InitWindowsSecurity();
  bwtest::ScratchDir dir("bw-wake");
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(dir / "w.FBF", "data"));
  std::atomic<int> applied{0};
  bw::TFileProtectTask::Options options;
  options.folderList = dir / "w.FBF";
  options.mode = 2;
  options.apply = [&](int, const std::string&) {
    ++applied;
    return true;
  };
  bw::TFileProtectTask task(options);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(applied.load(), 0);
  task.WakeRequested = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (applied.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(applied.load(), 1) << "a wake request starts a pass at the next slice";
}

TEST(FileProtectTask, ErrorEscapingAPassEndsOnlyTheThread) {
  bw::InitWindowsSecurity();
  bw::TFileProtectTask::Options options;
  options.periodMs = 100;
  options.sliceMs = 20;
  options.folderList = "C:\\somewhere\\f.FBF";
  options.mode = 3;
  options.apply = [](int, const std::string&) -> bool {
    throw bw::EOSError("remote user unknown", ERROR_NOT_CONNECTED);
  };
  bw::TFileProtectTask task(options);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3000);
  while (!task.Finished() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(task.Finished());
}

}  // namespace
