// Test fixture for the service control manager: a fresh machine folder per
// test with the test service program installed in C:\WINDOWS\system, and a
// tear-down that stops (or kills) every service the test left running.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/scm/process.h"
#include "platform/scm/scm.h"

namespace scm = plat::scm;

// Windows path of the installed test service program.
constexpr char kTestServicePath[] = "C:\\WINDOWS\\system\\scmtestsvc.exe";
constexpr char kTestServiceBinPath[] = "%SystemRoot%\\system\\scmtestsvc.exe";

class ScmMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vostrel-scm-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = std::filesystem::canonical(tmpl).string();
    if (const char* old = std::getenv("VOSTREL_MACHINE")) oldMachine_ = old;
    setenv("VOSTREL_MACHINE", root_.c_str(), 1);
    unsetenv("SystemRoot");
    ASSERT_TRUE(plat::EnsureMachineLayout());
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
    if (oldMachine_) {
      setenv("VOSTREL_MACHINE", oldMachine_->c_str(), 1);
    } else {
      unsetenv("VOSTREL_MACHINE");
    }
    std::filesystem::remove_all(root_);
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    scm::ServiceStatus st;
    while (std::chrono::steady_clock::now() < deadline) {
      if (scm::QueryStatus(s, &st) && st.currentState == state) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  static bool WaitProcessGone(uint32_t pid, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!plat::ProcessAlive(pid)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
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

  std::string ReadNative(const std::string& windowsPath) const {
    std::ifstream in(plat::ToNativePath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string root_;
  std::optional<std::string> oldMachine_;
  scm::Manager manager_;
  std::vector<uint32_t> extraPids_;  // processes started outside the database, killed at tear-down
};
