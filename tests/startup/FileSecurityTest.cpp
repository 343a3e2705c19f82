#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "support/Errors.h"
#include "support/Handles.h"
#include "support/startup/FileProtect.h"
#include "support/startup/WindowsSecurity.h"

namespace {

struct Ace {
  BYTE type;
  BYTE flags;
  ACCESS_MASK mask;
  std::string sid;
  bool operator==(const Ace&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Ace& ace) {
  return out << "{type " << int(ace.type) << ", flags " << int(ace.flags) << ", mask 0x" << std::hex
             << ace.mask << std::dec << ", " << ace.sid << "}";
}

struct Dacl {
  DWORD error = ERROR_SUCCESS;
  bool isProtected = false;
  std::vector<Ace> aces;
};

// The access list of a file as the system reports it.
Dacl ReadDacl(const std::string& path) {
  Dacl result;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  result.error = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, &dacl, nullptr, &sd);
  if (result.error != ERROR_SUCCESS) return result;
  bw::UniqueLocal owned(sd);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  result.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(dacl, i, &raw)) break;
    const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    LPSTR sid = nullptr;
    ConvertSidToStringSidA(const_cast<DWORD*>(&ace->SidStart), &sid);
    bw::UniqueLocal sidOwned(sid);
    result.aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, sid ? sid : ""});
  }
  return result;
}

constexpr BYTE kInheritFlags =
    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE;

class FileSecurity : public ::testing::Test {
 protected:
  void SetUp() override {
    bw::InitWindowsSecurity();
    owner = bw::GetCurrentUserSid();
    file = dir / "protected.FBF";
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(file, "data"));
    const Dacl probe = ReadDacl(file);
    if (probe.error != ERROR_SUCCESS) {
      GTEST_SKIP() << "GetNamedSecurityInfoA cannot read a file's access list here (error "
                   << probe.error << ")";
    }
  }

  bwtest::ScratchDir dir{"bw-dacl"};
  std::string owner;
  std::string file;
};

TEST_F(FileSecurity, CurrentUserSid) { EXPECT_EQ(owner.rfind("S-1-5-", 0), 0u) << owner; }

ACCESS_MASK EveryoneMask(const Dacl& dacl) {
  for (const Ace& ace : dacl.aces) {
    if (ace.sid == "S-1-1-0" && ace.type == ACCESS_ALLOWED_ACE_TYPE) return ace.mask;
  }
  return 0;
}

// What every system shows: mode 0 lets everyone write, mode 2 lets everyone only read.
TEST_F(FileSecurity, ModesZeroAndTwoReachTheFile) {
  ASSERT_TRUE(bw::ApplyFileSecurity(0, file, owner));
  EXPECT_EQ(EveryoneMask(ReadDacl(file)) & FILE_WRITE_DATA, FILE_WRITE_DATA);
  ASSERT_TRUE(bw::ApplyFileSecurity(2, file, owner));
  const ACCESS_MASK everyone = EveryoneMask(ReadDacl(file));
  EXPECT_EQ(everyone & FILE_WRITE_DATA, 0u);
  EXPECT_EQ(everyone & FILE_READ_DATA, FILE_READ_DATA);
  ASSERT_TRUE(bw::ApplyFileSecurity(0, file, owner));
  EXPECT_EQ(EveryoneMask(ReadDacl(file)) & FILE_WRITE_DATA, FILE_WRITE_DATA);
}

TEST_F(FileSecurity, ModesZeroTwoAndThreeSetTheirAccessLists) {
  const Ace everyoneFull{ACCESS_ALLOWED_ACE_TYPE, kInheritFlags, FILE_ALL_ACCESS, "S-1-1-0"};
  const Ace ownerFull{ACCESS_ALLOWED_ACE_TYPE, kInheritFlags, FILE_ALL_ACCESS, owner};
  const Ace everyoneRead{ACCESS_ALLOWED_ACE_TYPE, kInheritFlags, 0x1200a9, "S-1-1-0"};

  ASSERT_TRUE(bw::ApplyFileSecurity(3, file, owner));
  Dacl dacl = ReadDacl(file);
  if (!dacl.isProtected && dacl.aces.size() == 3) {
    GTEST_SKIP() << "Wine keeps no access list for a file: it maps the list onto the Unix "
                    "permission bits and reports one built from them (SYSTEM, owner, everyone; "
                    "not protected)";
  }
  EXPECT_TRUE(dacl.isProtected);
  EXPECT_EQ(dacl.aces, std::vector<Ace>{ownerFull});

  ASSERT_TRUE(bw::ApplyFileSecurity(2, file, owner));
  dacl = ReadDacl(file);
  EXPECT_TRUE(dacl.isProtected);
  EXPECT_EQ(dacl.aces, (std::vector<Ace>{ownerFull, everyoneRead}));

  ASSERT_TRUE(bw::ApplyFileSecurity(0, file, owner));
  dacl = ReadDacl(file);
  EXPECT_TRUE(dacl.isProtected);
  EXPECT_EQ(dacl.aces, std::vector<Ace>{everyoneFull});
}

TEST_F(FileSecurity, OtherModesChangeNothing) {
  ASSERT_TRUE(bw::ApplyFileSecurity(3, file, owner));
  const Dacl before = ReadDacl(file);
  EXPECT_FALSE(bw::ApplyFileSecurity(1, file, owner));
  EXPECT_FALSE(bw::ApplyFileSecurity(4, file, owner));
  EXPECT_EQ(ReadDacl(file).aces, before.aces);
}

TEST_F(FileSecurity, FailuresOfSetFileDacl) {
  // A missing file: ApplyFileSecurity reports false, SetFileDACL raises.
  EXPECT_FALSE(bw::ApplyFileSecurity(3, dir / "missing.FBF", owner));
  EXPECT_THROW(bw::SetFileDACL(dir / "missing.FBF", "D:PAI(A;OICINP;FA;;;WD)"), bw::EOSError);

  const std::string bad = "D:PAI(nonsense)";
  const std::string message = bwtest::MessageOf<bw::EOSError>([&] { bw::SetFileDACL(file, bad); });
  const std::string tail = ". " + file + ":" + bad;
  EXPECT_EQ(message.substr(message.size() - std::min(message.size(), tail.size())), tail);
}

TEST_F(FileSecurity, MissingEntriesRaiseOldWindowsVersion) {
  const auto savedConvert = bw::pConvertStringSecurityDescriptorToSecurityDescriptorA;
  const auto savedSid = bw::pConvertSidToStringSidA;
  bw::pConvertStringSecurityDescriptorToSecurityDescriptorA = nullptr;
  bw::pConvertSidToStringSidA = nullptr;
  auto expectCode1150 = [](auto call, const char* details) {
    EXPECT_TRUE(bwtest::RaisesOSError(call, 1150, bw::ComposeErrorMessage(1150, {details})))
        << details;
  };
  expectCode1150([&] { bw::SetFileDACL(file, "D:PAI(A;OICINP;FA;;;WD)"); }, "SetFileDACL");
  expectCode1150([] { bw::GetCurrentUserSid(); }, "CrrentUserSID");
  // Set-up fails the same way when the task is created.
  expectCode1150([] { bw::TFileProtectTask task; }, "CrrentUserSID");
  // The descriptor's own failure is caught by ApplyFileSecurity.
  EXPECT_FALSE(bw::ApplyFileSecurity(3, file, owner));
  bw::pConvertStringSecurityDescriptorToSecurityDescriptorA = savedConvert;
  bw::pConvertSidToStringSidA = savedSid;
}

// A network path takes its account from the remote connection; a failed look-up is not
// caught there.
TEST_F(FileSecurity, UncPathAsksForTheRemoteUser) {
  const std::string path = "\\\\bw-no-such-server\\share\\f.FBF";
  const std::string message =
      bwtest::MessageOf<bw::EOSError>([&] { bw::ApplyFileSecurity(3, path, owner); });
  // Windows fails to name the share's user (details: the share); Wine names one for any
  // share, and the account look-up on the server fails instead (details: user@server).
  auto endsWith = [&](const std::string& tail) {
    return message.size() >= tail.size() &&
           message.compare(message.size() - tail.size(), tail.size(), tail) == 0;
  };
  EXPECT_TRUE(endsWith(". \\\\bw-no-such-server\\share") || endsWith("@bw-no-such-server"))
      << message;
}

}  // namespace
