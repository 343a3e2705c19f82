#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "support/Errors.h"

using namespace bw;

namespace {

// What the system itself says for a code, untrimmed.
std::string RawSystemText(DWORD code) {
  char buffer[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
  return std::string(buffer, n);
}

}  // namespace

TEST(ErrorCodeMessage, SystemCodesTakeTheSystemTextTrimmed) {
  for (DWORD code : {2u, 5u, 50u, 123u, 1150u, 1223u}) {
    const std::string raw = RawSystemText(code);
    const std::string text = ErrorCodeMessage(code);
    ASSERT_FALSE(text.empty()) << "Wine has no text for " << code;
    EXPECT_EQ(text, SystemErrorText(code)) << code;
    EXPECT_EQ(raw.rfind(text, 0), 0u) << raw;
    EXPECT_EQ(raw.find_first_not_of(" .\r\n", text.size()), std::string::npos) << raw;
    EXPECT_NE(text.back(), '.');
    EXPECT_GT(static_cast<unsigned char>(text.back()), 0x20);
  }
}

TEST(ErrorCodeMessage, CodesWithoutTextFallBackToHex) {
  EXPECT_EQ(ErrorCodeMessage(0x20000000), "#EC#20000000");
  EXPECT_EQ(ErrorCodeMessage(0x20000001), "#EC#20000001");
  EXPECT_EQ(ErrorCodeMessage(0xFFFFFFFF), "#EC#FFFFFFFF");
  EXPECT_EQ(ErrorCodeMessage(0x0000FFFF), "#EC#0000FFFF");
  // An HRESULT is never looked up in the system table.
  EXPECT_EQ(ErrorCodeMessage(0x80070002), "#EC#80070002");
}

TEST(ErrorCodeMessage, CustomTableEntriesAndGaps) {
  auto& table = CustomErrorMessages();
  ASSERT_TRUE(table.empty());
  table = {"First custom", "", "Third."};
  EXPECT_EQ(ErrorCodeMessage(0x20000000), "First custom");
  EXPECT_EQ(ErrorCodeMessage(0x20000001), "#EC#20000001");  // empty entry counts as missing
  EXPECT_EQ(ErrorCodeMessage(0x20000002), "Third.");        // table texts are not trimmed
  EXPECT_EQ(ErrorCodeMessage(0x20000003), "#EC#20000003");
  EXPECT_EQ(ErrorCodeMessage(0xA0000000), "#EC#A0000000");  // negative index
  EXPECT_EQ(ComposeErrorMessage(0x20000002, {"x"}), "Third. x");
  table.clear();
}

TEST(ComposeErrorMessage, JoinsDetailsWithFullStopOrBlank) {
  const std::string base = SystemErrorText(2);
  EXPECT_EQ(ComposeErrorMessage(2, {}), base);
  EXPECT_EQ(ComposeErrorMessage(2, {""}), base);
  EXPECT_EQ(ComposeErrorMessage(2, {Detail()}), base);
  EXPECT_EQ(ComposeErrorMessage(2, {"x"}), base + ". x");
  EXPECT_EQ(ComposeErrorMessage(2, {"C:\\Temp\\x.iso"}), base + ". C:\\Temp\\x.iso");
  EXPECT_EQ(ComposeErrorMessage(2, {"a.", "b"}), base + ". a. b");
  EXPECT_EQ(ComposeErrorMessage(2, {"a", "", "b"}), base + ". a. b");
  EXPECT_EQ(ComposeErrorMessage(2, {42, -7}), base + ". 42. -7");
  EXPECT_EQ(ComposeErrorMessage(0x20000000, {"c"}), "#EC#20000000. c");
}

// RaiseOSError sets the last error before it raises, but this C++ runtime's thread-local
// look-ups (TlsGetValue) clear it again while the exception travels; handlers read ErrorCode.
// (RaisesOSError catches through the base, as the run's single handler does.)
TEST(RaiseOSError, RaisesTheCodeWithTheBareSystemText) {
  EXPECT_TRUE(bwtest::RaisesOSError([] { RaiseOSError(5); }, 5, SystemErrorText(5)));
  EXPECT_TRUE(bwtest::RaisesOSError(
      [] { RaiseOSError(1150, "(Windows 7+ or Windows Server 2008 R2+)"); }, 1150,
      SystemErrorText(1150) + ". (Windows 7+ or Windows Server 2008 R2+)"));
}

TEST(RaiseOSError, LastOSErrorAndChecks) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(bwtest::RaisesOSError([] { RaiseLastOSErrorEx(); }, 2, SystemErrorText(2)));

  // Any non-zero value passes through unchanged.
  EXPECT_EQ(CheckLastError(1, "x"), 1);
  EXPECT_EQ(CheckLastError(-1, "x"), -1);
  EXPECT_EQ(CheckCode(0x80000000u, 50, "x"), 0x80000000u);
  EXPECT_EQ(CheckCode(-5, 50), -5);

  EXPECT_EQ(GetFileAttributesA("C:\\no\\such\\file"), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(bwtest::RaisesOSError(
      [] {
        CheckLastError(CreateDirectoryA("C:\\no\\such\\parent\\child", nullptr), "the folder");
      },
      ERROR_PATH_NOT_FOUND, SystemErrorText(ERROR_PATH_NOT_FOUND) + ". the folder"));
  for (LONG code : {ERROR_ACCESS_DENIED, ERROR_NOT_CONNECTED}) {
    EXPECT_TRUE(bwtest::RaisesOSError([code] { CheckWin32Error(code, "x"); },
                                      static_cast<DWORD>(code), SystemErrorText(code) + ". x"));
  }
  CheckWin32Error(ERROR_SUCCESS, "x");
  EXPECT_TRUE(bwtest::RaisesOSError([] { CheckCode(false, 50, "TXB Worker is too old (0.0.0.0)"); },
                                    50, SystemErrorText(50) + ". TXB Worker is too old (0.0.0.0)"));
}

TEST(SystemErrorMessage, CodeLineThenTheSystemText) {
  EXPECT_EQ(SystemErrorMessage(5), "System Error.  Code: 5.\r\n" + SystemErrorText(5));
  // A trust service's HRESULT: a negative number, and the system's text where it has one.
  EXPECT_EQ(SystemErrorMessage(0x800B0100),
            "System Error.  Code: -2146762496.\r\n" + SystemErrorText(0x800B0100));
  EXPECT_EQ(SystemErrorMessage(0), "A call to an OS function failed");
}
