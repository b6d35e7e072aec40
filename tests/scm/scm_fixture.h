// Test fixture for the service control manager: a fresh machine folder per
// test with the test service program installed in C:\WINDOWS\system, and a
// tear-down that stops (or kills) every service the test left running.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/scm/process.h"
#include "platform/scm/scm.h"
#include "support/temp_machine.h"
#include "support/wait.h"

using testsupport::ReadWindowsFile;
using testsupport::WaitProcessGone;

namespace scm = plat::scm;

// Windows path of the installed test service program.
constexpr char kTestServicePath[] = "C:\\WINDOWS\\system\\scmtestsvc.exe";
constexpr char kTestServiceBinPath[] = "%SystemRoot%\\system\\scmtestsvc.exe";

class ScmMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok());
    std::filesystem::create_symlink(SCM_TEST_SERVICE, plat::ToNativePath(kTestServicePath));
    scm::SetStartTimeout(30000);
    manager_ = scm::OpenManager();
    ASSERT_TRUE(manager_);
  }

  void TearDown() override {
    scm::Manager m = scm::OpenManager();
    for (const std::string& name : scm::ListServices(m)) StopOrKill(m, name);
    for (uint32_t pid : extraPids_) {
      if (plat::ProcessAlive(pid)) plat::KillProcess(pid);
    }
  }

  static void StopOrKill(const scm::Manager& m, const std::string& name) {
    scm::Service s = scm::OpenService(m, name);
    if (!s) return;
    uint32_t pid = 0;
    if (!scm::QueryProcessId(s, &pid)) return;
    scm::ServiceStatus st;
    WaitForState(s, scm::kRunning, 5000);  // a service still starting accepts no control
    scm::SendControl(s, scm::kControlShutdown, &st);
    if (!WaitForState(s, scm::kStopped, 10000)) plat::KillProcess(pid);
    WaitProcessGone(pid, 10000);
  }

  static bool WaitForState(const scm::Service& s, uint32_t state, int timeoutMs = 20000) {
    return testsupport::WaitFor(
        [&] {
          scm::ServiceStatus st;
          return scm::QueryStatus(s, &st) && st.currentState == state;
        },
        timeoutMs);
  }

  scm::ServiceConfig Config(const std::string& name, const std::string& binaryPath = kTestServiceBinPath,
                            uint32_t startType = scm::kDemandStart) const {
    scm::ServiceConfig c;
    c.name = name;
    c.binaryPath = binaryPath;
    c.startType = startType;
    return c;
  }

  scm::Service Create(const std::string& name, const std::string& binaryPath = kTestServiceBinPath,
                      uint32_t startType = scm::kDemandStart) {
    scm::Service s = scm::CreateService(manager_, Config(name, binaryPath, startType));
    EXPECT_TRUE(s) << "create " << name << " failed with " << scm::LastError();
    return s;
  }

  uint32_t State(const scm::Service& s) const {
    scm::ServiceStatus st;
    EXPECT_TRUE(scm::QueryStatus(s, &st));
    return st.currentState;
  }

  testsupport::ScopedMachine machine_{"scm"};
  const std::string root_ = machine_.root();
  scm::Manager manager_;
  std::vector<uint32_t> extraPids_;  // processes started outside the database, killed at tear-down
};
