// Test fixture: a fresh machine folder per test (VOSTREL_MACHINE), removed
// afterwards, with the current directory and SystemRoot restored.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/faults/faults.h"
#include "platform/machine/machine.h"

class TempMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vostrel-platA-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = std::filesystem::canonical(tmpl).string();
    const char* old = std::getenv("VOSTREL_MACHINE");
    if (old != nullptr) oldMachine_ = old;
    setenv("VOSTREL_MACHINE", root_.c_str(), 1);
    unsetenv("SystemRoot");
    oldCwd_ = std::filesystem::current_path();
    ASSERT_TRUE(plat::EnsureMachineLayout());
    plat::ClearFaults();
  }

  void TearDown() override {
    plat::ClearFaults();
    std::filesystem::current_path(oldCwd_);
    unsetenv("SystemRoot");
    if (oldMachine_) {
      setenv("VOSTREL_MACHINE", oldMachine_->c_str(), 1);
    } else {
      unsetenv("VOSTREL_MACHINE");
    }
    std::filesystem::remove_all(root_);
  }

  // Native path below the machine root, e.g. Native("c/www/a.htm").
  std::string Native(const std::string& rel) const { return root_ + "/" + rel; }

  void WriteRaw(const std::string& rel, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(Native(rel)).parent_path());
    std::ofstream(Native(rel), std::ios::binary) << bytes;
  }

  std::string ReadRaw(const std::string& rel) const {
    std::ifstream in(Native(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string root_;
  std::optional<std::string> oldMachine_;
  std::filesystem::path oldCwd_;
};
