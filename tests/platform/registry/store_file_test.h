// A test whose registry store is a file of its own in a temporary folder,
// never the user's store.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "registry_test_env.h"

namespace regtest {

class StoreFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.Path().string();
    ASSERT_FALSE(dir_.empty());
    file_ = dir_ + "/registry.reg";
    setenv("ALBUMMAKER_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override { unsetenv("ALBUMMAKER_REGISTRY"); }

  TempFolder folder_;
  std::string dir_;
  std::string file_;
};

}  // namespace regtest
