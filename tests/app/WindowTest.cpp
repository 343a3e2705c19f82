// The real wizard window, started as its own process on the test display and driven from
// outside through window messages.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <optional>
#include <string>
#include <vector>

#include "AppDriver.h"
#include "common/TestSupport.h"
#include "support/Handles.h"
#include "support/Versions.h"

namespace {

using bwdrive::App;

constexpr const char* kStoreKey = "Software\\Bootwright\\TForm1";
constexpr DWORD kTimeout = 20000;

// Why a start gave no window: a program that ended at once found no working display.
std::string NoWindow(const App& app) {
  return app.Running() ? "no window within the time"
                       : "the wizard ended at once with code " + std::to_string(app.ExitCode()) +
                             " (no window could be made on DISPLAY?)";
}

std::string WizardPath() { return bwtest::BinDir() + "\\Bootwright.exe"; }

// Takes every right away from the store's key: reading and writing it fail.
void LockStore() {
  bw::UniqueKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kStoreKey, 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  ACL empty;
  InitializeAcl(&empty, sizeof empty, ACL_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, &empty, FALSE);
  ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
}

void ClearStore() {
  bw::UniqueKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kStoreKey, 0, WRITE_DAC, key.put()) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);  // everyone, everything
    RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd);
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Bootwright");
}

void StoreValue(const std::string& name, const std::string& value) {
  bw::UniqueKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kStoreKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
}

std::optional<std::string> StoredValue(const std::string& name) {
  char data[256] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  if (RegGetValueA(HKEY_CURRENT_USER, kStoreKey, name.c_str(), RRF_RT_ANY, &type, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << name;
  return std::string(data);
}

size_t CountLines(const std::string& text) {
  size_t lines = text.empty() ? 0 : 1;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
    ++lines;
  }
  return lines;
}

bool RectIs(const RECT& r, int x, int y, int w, int h) {
  return r.left == x && r.top == y && r.right - r.left == w && r.bottom - r.top == h;
}

std::string Describe(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top);
}

class WizardWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GetEnvironmentVariableA("DISPLAY", nullptr, 0)) {
      GTEST_SKIP() << "no X display: the window tests run under scripts/test";
    }
    ClearStore();
  }
  void TearDown() override { ClearStore(); }

  void ExpectAgreementPage(const App& app) {
    EXPECT_EQ(app.Text(bw::kIdStart), "I Agree");
    EXPECT_TRUE(app.Enabled(bw::kIdStart));
    EXPECT_FALSE(app.Enabled(bw::kIdCancel));
    EXPECT_FALSE(app.Visible(bw::kIdOptions));
    EXPECT_TRUE(RectIs(app.Place(bw::kIdLog), 0, 0, 580, 344)) << Describe(app.Place(bw::kIdLog));
    EXPECT_EQ(app.Log().rfind("Tessel Backup System - Bootwright", 0), 0u) << app.Log();
  }

  void ExpectOptionsPage(const App& app) {
    EXPECT_EQ(app.Log(), "Ready.");
    EXPECT_EQ(app.Text(bw::kIdStart), "Start");
    EXPECT_TRUE(app.Enabled(bw::kIdStart));
    EXPECT_FALSE(app.Enabled(bw::kIdCancel));
    EXPECT_TRUE(app.Visible(bw::kIdOptions));
    EXPECT_TRUE(RectIs(app.Place(bw::kIdLog), 0, 97, 580, 247)) << Describe(app.Place(bw::kIdLog));
  }

  void CloseAndWait(App& app) {
    app.Close();
    ASSERT_TRUE(app.WaitExit(kTimeout)) << "the window did not close";
    EXPECT_EQ(app.ExitCode(), 0u);
  }
};

TEST_F(WizardWindow, FirstStartShowsTheAgreementAcrossTheWholeArea) {
  App app;
  ASSERT_TRUE(app.Launch(WizardPath())) << NoWindow(app);
  const std::string version = bw::GetFileVersionString(WizardPath());
  EXPECT_EQ(version, BW_PROJECT_VERSION);
  EXPECT_EQ(app.Caption(), "Tessel Backup System - Bootwright " + version);
  ExpectAgreementPage(app);
  EXPECT_EQ(CountLines(app.Log()), 22u) << app.Log();

  RECT client = {};
  GetClientRect(app.Window(), &client);
  EXPECT_TRUE(RectIs(client, 0, 0, 580, 394)) << Describe(client);
  EXPECT_TRUE(RectIs(app.Place(bw::kIdPanel1), 0, 344, 580, 50));
  EXPECT_TRUE(RectIs(app.Place(bw::kIdStart), 424, 13, 73, 25));
  EXPECT_TRUE(RectIs(app.Place(bw::kIdCancel), 504, 13, 70, 25));
  EXPECT_TRUE(RectIs(app.Place(bw::kIdProgress), 12, 15, 397, 21));
  EXPECT_TRUE(RectIs(app.Place(bw::kIdIsoFile), 206, 32, 363, 19));
  EXPECT_TRUE(RectIs(app.Place(bw::kIdIso), 8, 32, 201, 17));
  EXPECT_TRUE(RectIs(app.Place(bw::kIdUsb), 8, 56, 193, 17));
  // The log is read-only and always shows its vertical scroll bar.
  const LONG_PTR logStyle = GetWindowLongPtrA(app.Control(bw::kIdLog), GWL_STYLE);
  EXPECT_TRUE(logStyle & ES_READONLY);
  EXPECT_TRUE(logStyle & ES_DISABLENOSCROLL);
  EXPECT_TRUE(logStyle & WS_VSCROLL);
  // Never shown: the image type and its caption; the older-computers image stays chosen.
  EXPECT_FALSE(IsWindowVisible(app.Control(bw::kIdImageType)));
  EXPECT_FALSE(IsWindowVisible(app.Control(bw::kIdLabel1)));
  DWORD_PTR index = 0;
  SendMessageTimeoutA(app.Control(bw::kIdImageType), CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000,
                      &index);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(app.Text(bw::kIdIsoFile), "C:\\TXBRecovery.iso");

  CloseAndWait(app);
  // There is no decline button: closing keeps the agreement page for next time.
  EXPECT_EQ(StoredValue("FormVersion"), "0");
  EXPECT_EQ(StoredValue("bStart_Tag"), "1");
}

TEST_F(WizardWindow, AgreeingShowsTheOptionsAndIsRememberedOnClose) {
  {
    App app;
    ASSERT_TRUE(app.Launch(WizardPath())) << NoWindow(app);
    // Esc is bound to nothing: it neither closes the window nor reaches Cancel. The click
    // that follows is handled after it, so the page change proves the key was seen.
    PostMessageA(app.Control(bw::kIdLog), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(app.Control(bw::kIdLog), WM_KEYUP, VK_ESCAPE, 0xC0010001);
    app.Click(bw::kIdStart);
    ASSERT_TRUE(app.WaitLogContains("Ready.", kTimeout)) << app.Log();
    EXPECT_TRUE(app.Running());
    ExpectOptionsPage(app);
    EXPECT_EQ(StoredValue("bStart_Tag"), std::nullopt) << "written before the window closed";
    // The two radio buttons are one group.
    app.Click(bw::kIdUsb);
    ASSERT_TRUE(bwdrive::WaitFor(
        [&] { return SendMessageA(app.Control(bw::kIdUsb), BM_GETCHECK, 0, 0) == BST_CHECKED; },
        kTimeout));
    EXPECT_EQ(SendMessageA(app.Control(bw::kIdIso), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_TRUE(IsWindowEnabled(app.Control(bw::kIdIsoFile)));
    CloseAndWait(app);
  }
  EXPECT_EQ(StoredValue("FormVersion"), "0");
  EXPECT_EQ(StoredValue("bStart_Tag"), "0");

  App again;
  ASSERT_TRUE(again.Launch(WizardPath())) << NoWindow(again);
  ExpectOptionsPage(again);
  CloseAndWait(again);
  EXPECT_EQ(StoredValue("bStart_Tag"), "0");
}

TEST_F(WizardWindow, EndingTheProcessWithoutClosingStoresNothing) {
  App app;
  ASSERT_TRUE(app.Launch(WizardPath())) << NoWindow(app);
  app.Click(bw::kIdStart);
  ASSERT_TRUE(app.WaitLogContains("Ready.", kTimeout));
  app.Kill();
  EXPECT_EQ(StoredValue("bStart_Tag"), std::nullopt);

  App next;
  ASSERT_TRUE(next.Launch(WizardPath())) << NoWindow(next);
  ExpectAgreementPage(next);
  next.Kill();
}

TEST_F(WizardWindow, AStoreThatCannotBeReadIsReportedAndTheWindowStillOpens) {
  StoreValue("bStart_Tag", "0");
  LockStore();
  App app;
  ASSERT_TRUE(app.Start(WizardPath()));
  HWND box = nullptr;
  ASSERT_TRUE(
      bwdrive::WaitFor([&] { return (box = app.FindBox("Bootwright")) != nullptr; }, kTimeout))
      << "no error box";
  EXPECT_NE(app.BoxText(box).find("Software\\Bootwright\\TForm1"), std::string::npos)
      << app.BoxText(box);
  app.Click(GetDlgItem(box, IDOK));
  ASSERT_TRUE(app.Attach(kTimeout));
  ExpectAgreementPage(app);  // the flag could not be read
  // What could not be read is not overwritten either: closing saves nothing, quietly.
  CloseAndWait(app);
}

TEST_F(WizardWindow, UnknownArgumentsAreNamedAndTheWindowStillOpens) {
  App app;
  ASSERT_TRUE(app.Start(WizardPath(), "C:\\", "/x64 \"two words\""));
  HWND box = nullptr;
  ASSERT_TRUE(
      bwdrive::WaitFor([&] { return (box = app.FindBox("Bootwright")) != nullptr; }, kTimeout))
      << "no message box";
  EXPECT_EQ(app.BoxText(box),
            "Unknown command-line arguments: \"/x64\" \"two words\"\r\n\r\nThe switches are "
            "/amd64, which makes a medium for 64-bit computers, and /nohostdrivers, which leaves "
            "this computer's storage and network drivers out of it.");
  app.Click(GetDlgItem(box, IDOK));
  ASSERT_TRUE(app.Attach(kTimeout)) << NoWindow(app);
  ExpectAgreementPage(app);
  EXPECT_EQ(SendMessageA(app.Control(bw::kIdImageType), CB_GETCURSEL, 0, 0), 1);
  CloseAndWait(app);
}

struct StoredFlag {
  const char* name;
  std::optional<std::string> formVersion;
  std::optional<std::string> tag;
  bool optionsPage;
};

TEST_F(WizardWindow, StoredFlagsDecideThePageOnStart) {
  const StoredFlag flags[] = {
      {"one", "0", "1", false},
      {"tag missing", "0", std::nullopt, false},
      {"values missing", std::nullopt, std::nullopt, false},
      {"zero", "0", "0", true},
      {"zero with blanks", "0", " 0 ", true},
      {"not a number", "0", "yes", true},
      {"version missing", std::nullopt, "0", true},
      {"five", "0", "5", false},
      {"minus one", "0", "-1", false},
      {"negative version", "-1", "0", false},
  };
  for (const StoredFlag& flag : flags) {
    SCOPED_TRACE(flag.name);
    ClearStore();
    StoreValue("Other", "x");  // the key itself exists
    if (flag.formVersion) StoreValue("FormVersion", *flag.formVersion);
    if (flag.tag) StoreValue("bStart_Tag", *flag.tag);
    App app;
    ASSERT_TRUE(app.Launch(WizardPath())) << NoWindow(app);
    if (flag.optionsPage) {
      ExpectOptionsPage(app);
      app.Kill();
      continue;
    }
    ExpectAgreementPage(app);
    // Whatever the flag, "I Agree" on this page only accepts the agreement.
    app.Click(bw::kIdStart);
    ASSERT_TRUE(app.WaitLogContains("Ready.", kTimeout)) << app.Log();
    ExpectOptionsPage(app);
    CloseAndWait(app);
    EXPECT_EQ(StoredValue("bStart_Tag"), "0");
    EXPECT_EQ(StoredValue("FormVersion"), "0");
  }
}

}  // namespace

namespace {

// Flags that another program (or a hand in the registry editor) left in another shape: a
// number reads as its decimal text, an over-long text as a text. Either way the window
// opens, and closing stores the flag as text again.
TEST_F(WizardWindow, FlagStoredAsANumberOrAnOverLongTextIsStillRead) {
  struct Shape {
    const char* name;
    DWORD type;
    std::string data;
    bool optionsPage;
  };
  const DWORD zero = 0;
  const DWORD one = 1;
  const Shape shapes[] = {
      {"number 0", REG_DWORD, std::string(reinterpret_cast<const char*>(&zero), sizeof zero), true},
      {"number 1", REG_DWORD, std::string(reinterpret_cast<const char*>(&one), sizeof one), false},
      {"70,000 ones", REG_SZ, std::string(70000, '1') + '\0', true},  // no number: as "yes"
      {"70,000 letters", REG_SZ, std::string(70000, 'x') + '\0', true},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    ClearStore();
    StoreValue("FormVersion", "0");
    {
      bw::UniqueKey key;
      ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kStoreKey, 0, KEY_SET_VALUE, key.put()),
                ERROR_SUCCESS);
      ASSERT_EQ(RegSetValueExA(key.get(), "bStart_Tag", 0, shape.type,
                               reinterpret_cast<const BYTE*>(shape.data.data()),
                               static_cast<DWORD>(shape.data.size())),
                ERROR_SUCCESS);
    }
    App app;
    ASSERT_TRUE(app.Launch(WizardPath())) << NoWindow(app);
    EXPECT_EQ(app.FindBox("Bootwright"), nullptr) << "an error box";
    if (shape.optionsPage) {
      ExpectOptionsPage(app);
    } else {
      ExpectAgreementPage(app);
    }
    CloseAndWait(app);
    EXPECT_EQ(StoredValue("bStart_Tag"), shape.optionsPage ? "0" : "1");
  }
}

}  // namespace
