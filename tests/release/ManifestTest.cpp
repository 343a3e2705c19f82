// The uiAccess option changes the embedded manifest's uiAccess and nothing else.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/TestSupport.h"
#include "support/Handles.h"

namespace {

std::string EmbeddedManifest(const std::string& program) {
  bw::UniqueModule module(LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return {};
  HRSRC found = FindResourceA(module.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  HGLOBAL loaded = found ? LoadResource(module.get(), found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return std::string(static_cast<const char*>(data), SizeofResource(module.get(), found));
}

TEST(Manifest, UiAccessOffWritesFalseAndChangesNothingElse) {
  std::string product = EmbeddedManifest(bwtest::BinDir() + "\\Bootwright.exe");
  const std::string off = EmbeddedManifest(bwtest::BinDir() + "\\bw_uiaccess_off.exe");
  const std::string ours = "uiAccess=\"" BW_UI_ACCESS "\"";
  const size_t at = product.find(ours);
  ASSERT_NE(at, std::string::npos) << product;
  EXPECT_NE(off.find("uiAccess=\"false\""), std::string::npos) << off;
  EXPECT_EQ(product.replace(at, ours.size(), "uiAccess=\"false\""), off);
}

}  // namespace
