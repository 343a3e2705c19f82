// A fixture for whole runs of the wizard under test: an X display, the local server behind
// the three downloads, the agreement accepted, no installed product.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Machine.h"
#include "common/HttpServer.h"
#include "common/TestSupport.h"

class ServedMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GetEnvironmentVariableA("DISPLAY", nullptr, 0)) {
      GTEST_SKIP() << "no X display: the window tests run under scripts/test";
    }
    base_ = bwtest::HttpBase(BW_HTTP_STATE);
    ASSERT_FALSE(base_.empty()) << "the test HTTP server is not running (CTest starts it)";
    machine::EndStrayDism();
    ASSERT_NO_FATAL_FAILURE(machine::AcceptAgreement());
    ASSERT_NO_FATAL_FAILURE(machine::StageConsoleTools());
    machine::ServeDownloads(env_, base_);
    out_ = std::make_unique<bwtest::ScratchDir>("bwserved");
  }
  void TearDown() override {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, machine::kUninstallKey);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Bootwright");
  }

  std::string base_;
  bwtest::ScopedEnv env_;
  std::unique_ptr<bwtest::ScratchDir> out_;
};
