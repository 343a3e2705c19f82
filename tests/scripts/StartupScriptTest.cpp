// The recovery start-up script, run under Wine's cmd with the worker and the console tools
// replaced by their stand-ins, keys and answers typed as a user would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/ConsoleSession.h"
#include "common/TestSupport.h"

namespace {

using bwtest::ConsoleSession;

const char kMenu[] =
    "Tessel Backup System Worker - Startup Wizard\r\n"
    "\r\n"
    "\r\n"
    "Would you like to connect to a backup server?\r\n"
    "1) Yes - Automatic mode (or wait for 15 seconds)\r\n"
    "2) Yes - Manual mode\r\n"
    "3) No - back to the command line\r\n";

// The Enter key of a piped answer. Wine's set /p keeps the carriage return of a CR LF from a
// pipe as part of the answer (an "empty" answer then defines the variable), where Windows
// drops it; a bare line feed ends the answer cleanly on both.
const char kEnter[] = "\n";

// What ConsoleSession::Finish returns for a program that it had to end.
constexpr DWORD kKilled = 0xDEAD;

const char kAskServer[] = "Enter the backup server IP address (required): ";
const char kAskPort[] = "Enter the TCP port number (empty = 4531): ";
const char kAskName[] = "Enter a name for this computer (required): ";
const char kAskIp[] = "Enter an IP address for this computer (empty = DHCP): ";
const char kAskMask[] = "Enter the network mask (empty = 255.255.255.0): ";
const char kAskGateway[] = "Enter the default gateway IP (empty = NONE): ";

// Words of a command line, blanks collapsed: what a program's argument parser hands it.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Join(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Each part appears in the text, after the one before it.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  size_t from = 0;
  for (const auto& part : parts) {
    size_t at = text.find(part, from);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: \"" << part << "\"\n" << text;
    from = at + part.size();
  }
}

class StartupScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string script = bwtest::ReadFileBytes(bwtest::SourcePath("resources/startnet.cmd"));
    // Wine's cmd always runs its own built-in choice, which ignores /t, /d and piped keys,
    // even with a choice.exe on the path. This copy of the script names the stand-in by its
    // full path in that one command; nothing else differs from the carried script.
    const std::string menu = "\r\nchoice /c 123 /t 15 /d 1 /n\r\n";
    ASSERT_EQ(Count(script, menu), 1u) << "the menu's choice command is not where expected";
    script.replace(script.find(menu) + 2, 6, bwtest::Quote(bwtest::StandinDir() + "\\choice.exe"));
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(scratch_ / "startnet.cmd", script));

    char path[32768] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    env_.Set("PATH", bwtest::StandinDir() + ";" + path);  // the worker, timeout, wpeinit, ping
    env_.Set("TEMP", scratch_.Path());
    env_.Set("BW_JOURNAL", scratch_ / "journal.txt");
    env_.Set("BW_TIMEOUT_WAIT_MS", "0");
    env_.Set("BW_PING_WAIT_MS", "0");
    env_.Set("BW_CHOICE_WAIT_MS", "10000");  // the tests type their key long before that
    for (const char* name :
         {"BW_CHOICE_ANSWER", "BW_CHOICE_EXIT", "BW_WORKER_SERVER", "BW_WORKER_DISCOVER_EXIT",
          "BW_WORKER_RECOVERY_EXIT", "BW_WORKER_DELAY_MS", "BW_WPEINIT_EXIT"}) {
      env_.Unset(name);
    }
  }

  std::unique_ptr<ConsoleSession> Start() {
    auto session = std::make_unique<ConsoleSession>(
        "cmd.exe /c " + bwtest::Quote(scratch_ / "startnet.cmd"), scratch_.Path());
    EXPECT_TRUE(session->Expect(kMenu)) << session->Output();
    return session;
  }

  // Each stand-in call as "<tool> <arguments>", the program's own path left out.
  std::vector<std::string> Journal() {
    auto lower = [](std::string text) {
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return text;
    };
    std::vector<std::string> calls;
    for (const std::string& line : bwtest::ReadJournal(scratch_ / "journal.txt")) {
      size_t toolEnd = line.find(' ');
      std::string tool = line.substr(0, toolEnd);
      std::string rest = toolEnd == std::string::npos ? "" : line.substr(toolEnd + 1);
      // The program's own name or path may lead the arguments, quoted when it holds blanks.
      size_t programEnd = rest.rfind('"', 0) == 0 ? rest.find('"', 1) : rest.find(' ');
      std::string program = lower(rest.substr(0, programEnd));
      if (!program.empty() && program[0] == '"') program.erase(0, 1);
      std::string name = lower(tool);
      for (const std::string& suffix : {name, name + ".exe"}) {
        if (program.size() >= suffix.size() &&
            program.compare(program.size() - suffix.size(), suffix.size(), suffix) == 0) {
          rest = programEnd == std::string::npos ? "" : rest.substr(programEnd + 1);
          break;
        }
      }
      std::vector<std::string> words = Words(rest);
      words.insert(words.begin(), tool);
      calls.push_back(Join(words));
    }
    return calls;
  }

  // The words after "-recovery" of every recovery run of the worker.
  std::vector<std::vector<std::string>> RecoveryRuns() {
    std::vector<std::vector<std::string>> runs;
    for (const auto& call : Journal()) {
      std::vector<std::string> words = Words(call);
      if (words.size() >= 2 && words[0] == "TXBWorker" && words[1] == "-recovery") {
        runs.emplace_back(words.begin() + 2, words.end());
      }
    }
    return runs;
  }

  bwtest::ScratchDir scratch_{"startnet"};
  bwtest::ScopedEnv env_;
};

TEST_F(StartupScriptTest, NoKeyFindsServerAndHandsItToWorkerThenUpdateEndsAtCommandLine) {
  env_.Set("BW_CHOICE_WAIT_MS", "0");  // nobody presses a key: the menu's wait runs out
  env_.Set("BW_WORKER_SERVER", "10.1.2.3");
  env_.Set("BW_WORKER_RECOVERY_EXIT", "162");
  auto session = Start();
  EXPECT_NE(session->Finish(), kKilled) << "the script did not end:\n" << session->Rest();
  std::string output = session->Output();

  ExpectInOrder(output, {"\r\n\r\nInitializing devices. This process may take several "
                         "minutes...\r\n",
                         kMenu, "1\r\n\r\n",
                         "\r\nLooking for a backup server. Please wait...\r\n\r\n\r\nBackup "
                         "server has been found at IP address 10.1.2.3\r\n",
                         "Update in progress, please wait...\r\n"});
  EXPECT_EQ(bwtest::ReadFileBytes(scratch_ / "serverip.txt"), "10.1.2.3\r\n");

  std::vector<std::string> calls = Journal();
  ASSERT_EQ(calls.size(), 6u) << output;
  EXPECT_EQ(calls[0], "wpeinit");
  EXPECT_EQ(calls[1], "choice /c 123 /t 15 /d 1 /n");
  EXPECT_EQ(calls[2], "TXBWorker -discover");
  EXPECT_EQ(calls[3], "timeout /t 5");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(calls[4], match,
                               std::regex("TXBWorker -recovery WSAUTO_(0|[1-9][0-9]*) "
                                          "10\\.1\\.2\\.3:4531")))
      << calls[4];
  EXPECT_LE(std::atoi(match[1].str().c_str()), 32767);
  EXPECT_EQ(calls[5], "ping localhost -n 40");
  // The update pause leads to the command line, never back to the menu.
  EXPECT_EQ(Count(output, kMenu), 1u);
}

TEST_F(StartupScriptTest, ServerNotFoundShowsDiscoveryCodeAndMenuAgain) {
  env_.Set("BW_WORKER_DISCOVER_EXIT", "53");
  auto session = Start();
  session->Type("1");
  ASSERT_TRUE(
      session->Expect("\r\n\r\n\r\nBackup server has not been found.\r\nError code: 53\r\n"))
      << session->Output();
  ASSERT_TRUE(session->Expect(kMenu)) << session->Rest();
  session->Type("3");
  EXPECT_NE(session->Finish(), kKilled) << "the script did not end:\n" << session->Rest();

  EXPECT_EQ(Journal(), (std::vector<std::string>{"wpeinit", "choice /c 123 /t 15 /d 1 /n",
                                                 "TXBWorker -discover", "timeout /t 30",
                                                 "choice /c 123 /t 15 /d 1 /n"}));
}

TEST_F(StartupScriptTest, MenuChoiceThreeEndsAtOnce) {
  auto session = Start();
  session->Type("3");
  EXPECT_NE(session->Finish(), kKilled) << "the script did not end:\n" << session->Rest();
  EXPECT_EQ(Journal(), (std::vector<std::string>{"wpeinit", "choice /c 123 /t 15 /d 1 /n"}));
  EXPECT_EQ(session->Output().find("Looking for"), std::string::npos);
}

TEST_F(StartupScriptTest, FailingMenuToolFallsThroughToAutomaticMode) {
  env_.Set("BW_CHOICE_EXIT", "255");
  env_.Set("BW_WORKER_RECOVERY_EXIT", "162");
  auto session = Start();
  EXPECT_NE(session->Finish(), kKilled) << "the script did not end:\n" << session->Rest();
  EXPECT_NE(session->Output().find("Backup server has been found at IP address 192.168.1.10"),
            std::string::npos)
      << session->Output();
}

TEST_F(StartupScriptTest, ManualModeWithDhcpAsksAgainForRequiredAnswersAndTakesDefaultPort) {
  env_.Set("BW_WORKER_RECOVERY_EXIT", "162");
  auto session = Start();
  session->Type("2");
  ASSERT_TRUE(session->Expect(kAskServer)) << session->Rest();
  session->Type(kEnter);
  ASSERT_TRUE(session->Expect(kAskServer)) << session->Rest();
  session->Type("10.0.0.5" + std::string(kEnter));
  ASSERT_TRUE(session->Expect(kAskPort)) << session->Rest();
  session->Type(kEnter);
  ASSERT_TRUE(session->Expect(kAskName)) << session->Rest();
  session->Type(kEnter);
  ASSERT_TRUE(session->Expect(kAskName)) << session->Rest();
  session->Type("RESCUE-PC" + std::string(kEnter));
  ASSERT_TRUE(session->Expect(kAskIp)) << session->Rest();
  session->Type(kEnter);
  ASSERT_TRUE(session->Expect("Update in progress, please wait...\r\n")) << session->Rest();
  EXPECT_NE(session->Finish(), kKilled) << "the script did not end:\n" << session->Rest();

  std::string output = session->Output();
  EXPECT_EQ(output.find(kAskMask), std::string::npos);
  EXPECT_EQ(output.find(kAskGateway), std::string::npos);
  EXPECT_EQ(RecoveryRuns(),
            (std::vector<std::vector<std::string>>{{"RESCUE-PC", "10.0.0.5:4531"}}));
}

TEST_F(StartupScriptTest, ManualPassesStartEmptyAndPassStaticAddressesWithDefaults) {
  env_.Set("BW_WORKER_RECOVERY_EXIT", "5");  // each connection ends, the menu comes back
  auto session = Start();
  auto answer = [&](const char* prompt, const std::string& text) {
    ASSERT_TRUE(session->Expect(prompt)) << "no prompt " << prompt << "\n" << session->Rest();
    session->Type(text + kEnter);
  };
  auto endPass = [&] {
    ASSERT_TRUE(session->Expect("Recovery connection ended with code 5.")) << session->Rest();
    ASSERT_TRUE(session->Expect("Press any key")) << session->Rest();
    session->Type(kEnter);
    ASSERT_TRUE(session->Expect(kMenu)) << session->Rest();
  };

  // Static address, default mask, a gateway: five words.
  session->Type("2");
  answer(kAskServer, "10.0.0.5");
  answer(kAskPort, "5000");
  answer(kAskName, "PC1");
  answer(kAskIp, "10.0.0.20");
  answer(kAskMask, "");
  answer(kAskGateway, "10.0.0.1");
  endPass();

  // Static address and mask, no gateway: the earlier gateway is gone.
  session->Type("2");
  answer(kAskServer, "10.0.0.6");
  answer(kAskPort, "");
  answer(kAskName, "PC2");
  answer(kAskIp, "10.0.0.21");
  answer(kAskMask, "255.255.0.0");
  answer(kAskGateway, "");
  endPass();

  // DHCP, after all that was entered before; a name with blanks becomes several words.
  session->Type("2");
  answer(kAskServer, "");
  answer(kAskServer, "10.0.0.7");
  answer(kAskPort, "");
  answer(kAskName, "");
  answer(kAskName, "front desk");
  answer(kAskIp, "");
  endPass();

  session->Type("3");
  EXPECT_NE(session->Finish(), kKilled) << "the script did not end:\n" << session->Rest();

  EXPECT_EQ(RecoveryRuns(), (std::vector<std::vector<std::string>>{
                                {"PC1", "10.0.0.5:5000", "10.0.0.20", "255.255.255.0", "10.0.0.1"},
                                {"PC2", "10.0.0.6:4531", "10.0.0.21", "255.255.0.0"},
                                {"front", "desk", "10.0.0.7:4531"}}));
}

// The script goes onto the medium byte for byte: plain ASCII, every line ended by CR LF.
TEST(CarriedFilesTest, StartupScriptIsAsciiWithCrLfLineEnds) {
  std::string bytes = bwtest::ReadFileBytes(bwtest::SourcePath("resources/startnet.cmd"));
  ASSERT_FALSE(bytes.empty());
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    ASSERT_TRUE(c < 0x80 && (c >= 0x20 || c == '\r' || c == '\n')) << "byte " << i;
    if (c == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at byte " << i;
    }
    if (c == '\r') {
      ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at byte " << i;
    }
  }
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
}

// Windows PE shows the picture as its desktop: a baseline JFIF JPEG, 1024 x 768, YCbCr.
TEST(CarriedFilesTest, PictureIsBaselineJfifOf1024By768WithThreeComponents) {
  std::string jpeg = bwtest::ReadFileBytes(bwtest::SourcePath("resources/winpe.jpg"));
  auto byte = [&](size_t at) {
    return at < jpeg.size() ? static_cast<unsigned char>(jpeg[at]) : 0;
  };
  auto word = [&](size_t at) { return byte(at) << 8 | byte(at + 1); };
  EXPECT_GT(jpeg.size(), 60000u);
  EXPECT_LT(jpeg.size(), 150000u);
  ASSERT_EQ(word(0), 0xFFD8) << "no start-of-image marker";
  ASSERT_EQ(word(2), 0xFFE0) << "no JFIF segment first";
  ASSERT_EQ(jpeg.compare(6, 5, std::string("JFIF\0", 5)), 0);

  int frames = 0;
  for (size_t at = 2; at + 4 <= jpeg.size();) {
    ASSERT_EQ(byte(at), 0xFF) << "segment expected at " << at;
    unsigned marker = byte(at + 1);
    if (marker == 0xDA) break;  // entropy-coded data follows
    bool startOfFrame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame) {
      ++frames;
      EXPECT_EQ(marker, 0xC0u) << "not a baseline frame";
      EXPECT_EQ(byte(at + 4), 8) << "sample precision";
      EXPECT_EQ(word(at + 5), 768) << "height";
      EXPECT_EQ(word(at + 7), 1024) << "width";
      ASSERT_EQ(byte(at + 9), 3) << "components";
      for (int c = 0; c < 3; ++c) EXPECT_EQ(byte(at + 10 + 3 * c), c + 1) << "component id";
    }
    at += 2 + word(at + 2);
  }
  EXPECT_EQ(frames, 1);
}

}  // namespace
