#include <gtest/gtest.h>

#include "support/Handles.h"
#include "support/Registry.h"

using namespace bw;

namespace {

const char* kKey = "Software\\BootwrightTests\\Registry";

class ReadRegistryStringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key_.put(), nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    key_.reset();
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  }
  void Put(const char* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueExA(key_.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  UniqueKey key_;
};

}  // namespace

TEST_F(ReadRegistryStringTest, PlainAndExpandableStrings) {
  Put("Plain", REG_SZ, std::string("C:\\Program Files\\Tessel\0", 25));
  Put("Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x\0", 15));
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Plain"), "C:\\Program Files\\Tessel");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Expand"), "%SystemRoot%\\x");
}

TEST_F(ReadRegistryStringTest, OtherTypesStopAtTheirFirstZeroByte) {
  Put("Multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9));
  Put("Binary", REG_BINARY, std::string("ab\0cd", 5));
  Put("NoTerminator", REG_BINARY, std::string("xyz"));
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Multi"), "one");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Binary"), "ab");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "NoTerminator"), "xyz");
}

TEST_F(ReadRegistryStringTest, TooLongMissingAndEmpty) {
  Put("Long", REG_SZ, std::string(39999, 'a') + std::string(1, '\0'));
  Put("Fits", REG_SZ, std::string(32767, 'b') + std::string(1, '\0'));
  Put("Empty", REG_SZ, std::string(1, '\0'));
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Long"), "");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Fits"), std::string(32767, 'b'));
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Empty"), "");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kKey, "Missing"), "");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\BootwrightTests\\NoKey", "x"), "");
}
