#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "support/Paths.h"
#include "support/Versions.h"

using namespace bw;

TEST(JoinPath, Table) {
  EXPECT_EQ(JoinPath({"C:\\", "\\Windows", "", "System32"}), "C:\\Windows\\System32");
  EXPECT_EQ(JoinPath({"", "x", ""}), "x");
  EXPECT_EQ(JoinPath(std::vector<std::string>{}), "");
  EXPECT_EQ(JoinPath({"a", "\\b\\"}), "a\\b\\");
  EXPECT_EQ(JoinPath({"a\\\\", "\\b"}), "a\\\\b");
  EXPECT_EQ(JoinPath({"a", "b", "c"}), "a\\b\\c");
  EXPECT_EQ(JoinPath({"C:\\", "x"}), "C:\\x");
  EXPECT_EQ(JoinPath({"\\\\server\\share", "f"}), "\\\\server\\share\\f");
}

TEST(FormatVersion, Cases) {
  EXPECT_EQ(FormatVersion(0x00060001, 0x00060000), "6.1.6.0");
  EXPECT_EQ(FormatVersion(0xFFFF0000, 0x0000FFFF), "65535.0.0.65535");
  EXPECT_EQ(FormatVersion(0, 0), "0.0.0.0");
  EXPECT_EQ(FormatVersion(0x0006000A, 0x00020000), "6.10.2.0");
}

TEST(GetFileVersionString, ReadsTheFileVersionNotTheProductVersion) {
  EXPECT_EQ(GetFileVersionString(bwtest::BinDir() + "\\bw_probe_versioned.exe"), "1.2.3.4");
}

TEST(GetFileVersionString, NeutralResultWithoutVersion) {
  EXPECT_EQ(GetFileVersionString(bwtest::BinDir() + "\\bw_probe_plain.exe"), "0.0.0.0");
  EXPECT_EQ(GetFileVersionString(bwtest::BinDir() + "\\no-such-program.exe"), "0.0.0.0");
  EXPECT_EQ(GetFileVersionString(bwtest::BinDir()), "0.0.0.0");
  EXPECT_EQ(GetFileVersionString(""), "0.0.0.0");
}
