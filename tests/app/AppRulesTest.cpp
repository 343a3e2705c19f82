// The window's rules that need no window: drive texts, the browse folder, stored values, the
// run state.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/AppRules.h"
#include "support/Words.h"

namespace {

using bw::DriveInfo;

TEST(DriveListText, ShowsEachKindAsTheListDoes) {
  EXPECT_EQ(bw::DriveListText('e', {DRIVE_REMOVABLE, "STICK", ""}), "E:");
  EXPECT_EQ(bw::DriveListText('c', {DRIVE_FIXED, "System", ""}), "C: [SYSTEM]");
  EXPECT_EQ(bw::DriveListText('D', {DRIVE_CDROM, "", ""}), "D: []");
  EXPECT_EQ(bw::DriveListText('R', {DRIVE_RAMDISK, "ram disk", ""}), "R: [RAM DISK]");
  EXPECT_EQ(bw::DriveListText('x', {DRIVE_REMOTE, "", "\\\\server\\Share"}),
            "X: \\\\SERVER\\SHARE");
  EXPECT_EQ(bw::DriveListText('Q', {DRIVE_UNKNOWN, "x", ""}), "");
  EXPECT_EQ(bw::DriveListText('Q', {DRIVE_NO_ROOT_DIR, "x", ""}), "");
}

TEST(DriveList, ListsKnownDrivesInLetterOrderAndStartsAtTheCurrentDrive) {
  const std::map<char, DriveInfo> drives = {{'A', {DRIVE_REMOVABLE, "", ""}},
                                            {'C', {DRIVE_FIXED, "win", ""}},
                                            {'D', {DRIVE_NO_ROOT_DIR, "", ""}},
                                            {'E', {DRIVE_UNKNOWN, "", ""}},
                                            {'Z', {DRIVE_REMOTE, "", "\\\\h\\s"}}};
  DWORD mask = 0;
  for (const auto& [letter, info] : drives) mask |= 1u << (letter - 'A');
  const auto list = bw::BuildDriveList(mask, [&](char letter) { return drives.at(letter); });
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].text, "A:");
  EXPECT_EQ(list[1].text, "C: [WIN]");
  EXPECT_EQ(list[2].text, "Z: \\\\H\\S");
  EXPECT_EQ(list[2].letter, 'Z');

  EXPECT_EQ(bw::InitialDriveIndex(list, "c:\\users"), 1);
  EXPECT_EQ(bw::InitialDriveIndex(list, "Z:\\"), 2);
  EXPECT_EQ(bw::InitialDriveIndex(list, "D:\\gone"), 0);
  EXPECT_EQ(bw::InitialDriveIndex(list, "\\\\server\\share"), 0);
  EXPECT_EQ(bw::InitialDriveIndex({}, "C:\\"), 0);
}

TEST(ISOFileAfterDialog, PutsTheImageIntoTheChosenFolder) {
  std::string name = "D:\\";
  bw::ISOFileAfterDialogRule(name, true);
  EXPECT_EQ(name, "D:\\TXBRecovery.iso");
  name = "D:\\Images";
  bw::ISOFileAfterDialogRule(name, true);
  EXPECT_EQ(name, "D:\\Images\\TXBRecovery.iso");
  name = "C:\\kept.iso";
  bw::ISOFileAfterDialogRule(name, false);
  EXPECT_EQ(name, "C:\\kept.iso");
}

TEST(BrowseStartFolder, OpensAtAnExistingFolderOrElseAtTheRoot) {
  auto isFolder = [](const std::string& path) { return path == "D:\\Images"; };
  EXPECT_EQ(bw::BrowseStartFolder("D:\\Images", isFolder), "D:\\Images");
  EXPECT_EQ(bw::BrowseStartFolder("C:\\TXBRecovery.iso", isFolder), "\\");
  EXPECT_EQ(bw::BrowseStartFolder("", isFolder), "\\");
}

TEST(StoredInteger, ReadsDecimalTextWithBlanksAround) {
  EXPECT_EQ(bw::ParseStoredInteger("0"), 0);
  EXPECT_EQ(bw::ParseStoredInteger(" 0 "), 0);
  EXPECT_EQ(bw::ParseStoredInteger("-3"), -3);
  EXPECT_EQ(bw::ParseStoredInteger("+7"), 7);
  EXPECT_EQ(bw::ParseStoredInteger(""), std::nullopt);
  EXPECT_EQ(bw::ParseStoredInteger("1 0"), std::nullopt);
  EXPECT_EQ(bw::ParseStoredInteger("yes"), std::nullopt);
  EXPECT_EQ(bw::ParseStoredInteger("-"), std::nullopt);
  EXPECT_EQ(bw::ParseStoredInteger("99999999999999999999"), std::nullopt);
}

TEST(RestoredStartTag, FollowsTheStoreReadingRules) {
  EXPECT_EQ(bw::RestoredStartTag("0", "0", 1), 0);
  EXPECT_EQ(bw::RestoredStartTag("0", "1", 1), 1);
  EXPECT_EQ(bw::RestoredStartTag("0", std::nullopt, 1), 1);  // missing: the current tag
  EXPECT_EQ(bw::RestoredStartTag(std::nullopt, "0", 1), 0);  // missing version counts as 0
  EXPECT_EQ(bw::RestoredStartTag("0", " 0 ", 1), 0);
  EXPECT_EQ(bw::RestoredStartTag("0", "maybe", 1), 0);  // not a number gives 0
  EXPECT_EQ(bw::RestoredStartTag("0", "5", 1), 5);
  EXPECT_EQ(bw::RestoredStartTag("2", "0", 1), 0);
  EXPECT_EQ(bw::RestoredStartTag("-1", "0", 1), std::nullopt);  // no restore at all
}

// Each story is a sequence of "event>what the window must do" steps.
TEST(WindowState, OneRunAtATimeCloseAfterTheRunStoreWrittenOnceAndOnlyIfRead) {
  using E = bw::WindowEvent;
  const std::map<std::string, E> events = {{"Shown", E::Shown},        {"StoreRead", E::StoreRead},
                                           {"Start", E::StartClick},   {"RunEnded", E::RunEnded},
                                           {"Close", E::CloseRequest}, {"Destroyed", E::Destroyed}};
  const auto did = [](const bw::WindowActions& a) {
    std::string text = std::string(a.read ? "+read" : "") + (a.run ? "+run" : "") +
                       (a.write ? "+write" : "") + (a.destroy ? "+destroy" : "");
    return text.empty() ? std::string("-") : text.substr(1);
  };
  const char* const stories[] = {
      // closed when idle
      "Shown>read StoreRead>- Shown>- Start>run RunEnded>- Close>write+destroy Close>- Start>- "
      "Destroyed>-",
      // closed during a run
      "Shown>read StoreRead>- Start>run Start>- Close>write Close>- Start>- RunEnded>destroy "
      "Destroyed>-",
      "Shown>read StoreRead>- Destroyed>write Destroyed>-",  // destroyed, no close request
      "Shown>read Shown>- Start>run Close>- RunEnded>destroy Destroyed>-",  // store not read
      "Close>destroy Destroyed>-",                                          // closed before shown
  };
  for (const char* story : stories) {
    bw::WindowState state;
    for (const std::string& step : bw::SplitWords(story)) {
      const size_t arrow = step.find('>');
      EXPECT_EQ(did(bw::Advance(state, events.at(step.substr(0, arrow)))), step.substr(arrow + 1))
          << story << ": " << step;
    }
  }
}

TEST(StorageRootKey, IsTheProgramNameWithoutExtension) {
  EXPECT_EQ(bw::StorageRootKey("C:\\Program Files\\Tools\\Bootwright.exe"), "Software\\Bootwright");
  EXPECT_EQ(bw::StorageRootKey("C:\\a.b\\My.Tool.exe"), "Software\\My.Tool");
  EXPECT_EQ(bw::StorageRootKey("plain"), "Software\\plain");
}

TEST(ParseCommandLine, SwitchesInAnyCaseEverythingElseNamed) {
  const struct {
    const char* arguments;
    bool amd64;
    std::vector<std::string> unknown;
    bool noHostDrivers = false;
  } cases[] = {
      {"", false, {}},
      {"  \t ", false, {}},
      {"/amd64", true, {}},
      {"/AMD64", true, {}},
      {" \"/Amd64\" ", true, {}},
      {"/amd64 /amd64", true, {}},
      {"-amd64 /x64", false, {"-amd64", "/x64"}},
      {"/amd64 \"C:\\My Media\\a.iso\" \"\"", true, {"C:\\My Media\\a.iso", ""}},
      {"/amd64x amd64", false, {"/amd64x", "amd64"}},
      {"/NoHostDrivers /amd64", true, {}, true},
      {"/nohostdrivers /nohostdriver", false, {"/nohostdriver"}, true},
  };
  for (const auto& c : cases) {
    const bw::CommandLineOptions options = bw::ParseCommandLine(c.arguments);
    EXPECT_EQ(options.amd64, c.amd64) << c.arguments;
    EXPECT_EQ(options.unknown, c.unknown) << c.arguments;
    EXPECT_EQ(options.noHostDrivers, c.noHostDrivers) << c.arguments;
  }
  EXPECT_EQ(bw::UnknownArgumentsMessage({"/x64", "two words"}),
            "Unknown command-line arguments: \"/x64\" \"two words\"\r\n\r\nThe switches are "
            "/amd64, which makes a medium for 64-bit computers, and /nohostdrivers, which leaves "
            "this computer's storage and network drivers out of it.");
}

// A 64-bit medium only on an x64 Windows; without the switch nothing is said.
TEST(Amd64Refusal, ByTheMachinesNativeArchitecture) {
  const std::string refused =
      "A 64-bit medium can be made only on a 64-bit (x64) Windows; this window makes a 32-bit "
      "medium.";
  const std::tuple<WORD, bool, std::string> cases[] = {
      {IMAGE_FILE_MACHINE_AMD64, true, ""},      {IMAGE_FILE_MACHINE_I386, true, refused},
      {IMAGE_FILE_MACHINE_ARM64, true, refused}, {IMAGE_FILE_MACHINE_UNKNOWN, true, refused},
      {IMAGE_FILE_MACHINE_ARM64, false, ""},
  };
  for (const auto& [native, asked, message] : cases) {
    bw::CommandLineOptions options;
    options.amd64 = asked;
    EXPECT_EQ(bw::Amd64Refusal(options, native), message) << native << " " << asked;
    EXPECT_EQ(options.amd64, asked && message.empty()) << native << " " << asked;
  }
}

}  // namespace
