// Test fixture: a fresh machine folder per test (VOSTREL_MACHINE), removed
// afterwards, with the current directory and SystemRoot restored.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "platform/faults/faults.h"
#include "support/temp_machine.h"

class TempMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok());
    plat::ClearFaults();
  }

  void TearDown() override { plat::ClearFaults(); }

  // Native path below the machine root, e.g. Native("c/www/a.htm").
  std::string Native(const std::string& rel) const { return machine_.Native(rel); }

  void WriteRaw(const std::string& rel, const std::string& bytes) const {
    testsupport::WriteWholeFile(Native(rel), bytes);
  }

  std::string ReadRaw(const std::string& rel) const { return testsupport::ReadWholeFile(Native(rel)); }

  testsupport::ScopedMachine machine_{"platA"};
};
