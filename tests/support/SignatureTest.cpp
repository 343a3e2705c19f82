#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "support/Signature.h"

using namespace bw;

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

TEST(VerifyFileSignature, SignedUnsignedAlteredMissing) {
  const std::string signedFile = bwtest::BinDir() + "\\bw_probe_signed.exe";
  const std::string plainFile = bwtest::BinDir() + "\\bw_probe_plain.exe";
  ASSERT_TRUE(bwtest::FileExists(signedFile));

  EXPECT_TRUE(VerifyFileSignature(Wide(signedFile)));

  SetLastError(0);
  EXPECT_FALSE(VerifyFileSignature(Wide(plainFile)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(TRUST_E_NOSIGNATURE));

  bwtest::ScratchDir dir("sig");
  std::string bytes = bwtest::ReadFileBytes(signedFile);
  ASSERT_GT(bytes.size(), 1024u);
  bytes[600] ^= 0x01;  // inside the code, covered by the hash
  ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(dir / "altered.exe", bytes));
  SetLastError(0);
  EXPECT_FALSE(VerifyFileSignature(Wide(dir / "altered.exe")));
  EXPECT_NE(GetLastError(), 0u);

  EXPECT_FALSE(VerifyFileSignature(Wide(dir / "missing.exe")));
  EXPECT_FALSE(VerifyFileSignature(L""));
}

TEST(GetFileSigner, NamesTheSignerOrNothing) {
  EXPECT_EQ(GetFileSigner(Wide(bwtest::BinDir() + "\\bw_probe_signed.exe")),
            "Bootwright Test Signing");
  EXPECT_EQ(GetFileSigner(Wide(bwtest::BinDir() + "\\bw_probe_kit.exe")), "Microsoft Corporation");
  EXPECT_EQ(GetFileSigner(Wide(bwtest::BinDir() + "\\bw_probe_plain.exe")), "");
  EXPECT_EQ(GetFileSigner(Wide(bwtest::BinDir() + "\\no-such-file.exe")), "");
}
