#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "support/Errors.h"
#include "support/Files.h"

using namespace bw;

TEST(ForceDirectories, MakesMissingParentsAndLeavesTheReasonWhenItFails) {
  bwtest::ScratchDir dir;
  bwtest::WriteFileBytes(dir / "file", "x");
  const struct {
    std::string folder;
    DWORD error;  // 0: made or already there
  } cases[] = {
      {dir / "a\\b\\c", 0},
      {dir / "a\\b\\c", 0},
      {dir / "d\\e\\\\", 0},
      {dir / "file", ERROR_ALREADY_EXISTS},
      {dir / "file\\below", ERROR_ALREADY_EXISTS},
      {"", ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    const BOOL made = ForceDirectories(c.folder);
    EXPECT_EQ(made, c.error == 0) << c.folder;
    EXPECT_EQ(made ? 0u : GetLastError(), c.error) << c.folder;
    EXPECT_EQ(FolderExists(c.folder), made != FALSE) << c.folder;
  }
  EXPECT_TRUE(FileExists(dir / "file"));
  EXPECT_FALSE(FolderExists(dir / "file"));
}

TEST(WholeFile, BinaryRoundTripAndFailuresWithThePath) {
  bwtest::ScratchDir dir;
  std::string bytes((1 << 20) + 65537, '\0');  // more than one read and one write at a time
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 256);
  WriteWholeFile(dir / "b", bytes);
  EXPECT_TRUE(ReadWholeFile(dir / "b") == bytes);
  WriteWholeFile(dir / "b", "\r\n\x1a");
  EXPECT_EQ(ReadWholeFile(dir / "b"), "\r\n\x1a");

  std::string read = "old";
  EXPECT_FALSE(TryReadWholeFile(dir / "missing", read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(read, "");
  EXPECT_FALSE(TryWriteWholeFile(dir / "no\\b", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  try {
    ReadWholeFile(dir / "missing");
    FAIL() << "no exception";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(e.Message(), SystemErrorText(ERROR_FILE_NOT_FOUND) + ". " + dir / "missing");
  }
}

// A DOS header whose e_lfanew points at "PE\0\0" and the machine field right after it.
std::string PeHeader(WORD machine) {
  std::string bytes = std::string("MZ") + std::string(0x56, '\0');
  bytes[0x3C] = 0x40;
  bytes.replace(0x40, 4, "PE\0\0", 4);
  return bytes.replace(0x44, 2, reinterpret_cast<const char*>(&machine), 2);
}

TEST(ProgramMachine, ReadsThePeHeaderAndIsUnknownForAnythingElse) {
  bwtest::ScratchDir dir;
  const std::pair<std::string, WORD> cases[] = {
      {PeHeader(IMAGE_FILE_MACHINE_I386), IMAGE_FILE_MACHINE_I386},
      {PeHeader(IMAGE_FILE_MACHINE_AMD64), IMAGE_FILE_MACHINE_AMD64},
      {"@echo off\r\n", 0},
      {PeHeader(IMAGE_FILE_MACHINE_I386).replace(0x40, 2, "NE"), 0},  // a DOS or 16-bit program
      {PeHeader(IMAGE_FILE_MACHINE_AMD64).substr(0, 0x45), 0},        // cut in the PE header
      {PeHeader(IMAGE_FILE_MACHINE_AMD64).substr(0, 0x3E), 0},        // cut before it
  };
  int n = 0;
  for (const auto& [bytes, machine] : cases) {
    const std::string file = dir / std::to_string(n++);
    ASSERT_NO_FATAL_FAILURE(bwtest::WriteFileBytes(file, bytes));
    EXPECT_EQ(ProgramMachine(file), machine) << n;
  }
  EXPECT_EQ(ProgramMachine(dir / "missing"), 0);
}
