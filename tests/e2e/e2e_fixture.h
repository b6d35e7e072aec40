// End-to-end fixture: a temporary machine with the real vostreld installed as
// the service "vostrelserver", started and stopped through the service control
// manager, with curl as the client. Every process started is stopped.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/StatusRecord.h"
#include "platform/scm/process.h"
#include "platform/scm/scm.h"
#include "platform/sockets/sockets.h"
#include "support/ports.h"
#include "support/temp_machine.h"
#include "support/wait.h"

using testsupport::ReadWholeFile;
using testsupport::ReadWindowsFile;
using testsupport::WaitFor;
using testsupport::WaitProcessGone;
using testsupport::WriteWindowsFile;

namespace scm = plat::scm;

constexpr char kServiceName[] = "vostrelserver";
constexpr char kServiceBinPath[] = "%SystemRoot%\\system\\vostreld.exe";
constexpr char kInstalledServer[] = "C:\\WINDOWS\\system\\vostreld.exe";
constexpr char kConfigPath[] = "C:\\WINDOWS\\system\\VostrelWeb.SET";
constexpr char kLogPath[] = "C:\\WINDOWS\\system\\VostrelWeb.log";
constexpr char kStatusPath[] = "C:\\WINDOWS\\system\\vostrelHttpStatus";
constexpr char kDocumentRoot[] = "C:\\www\\";

struct CurlResult {
  int exitCode = -1;
  std::string status;  // "200", or "000" without an answer
  std::string headers;
  std::string body;
};

class ServerMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok());
    scratch_ = machine_.Native("scratch");
    std::filesystem::create_directories(scratch_);
    const char* bin = std::getenv("VOSTREL_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "VOSTREL_BIN_DIR names the built programs";
    binDir_ = bin;
    std::filesystem::create_symlink(binDir_ + "/vostreld", plat::ToNativePath(kInstalledServer));
    plat::net::Startup();
  }

  void TearDown() override { StopOrKill(); }

  // Registers the service (automatic start, as the installer does) and starts it.
  void StartServer(const std::string& port, const std::string& address = "127.0.0.1") {
    WriteWindowsFile(kConfigPath, address + "\n" + port + "\n" + kDocumentRoot + "\nsecret\n");
    scm::Manager manager = scm::OpenManager();
    ASSERT_TRUE(manager) << scm::LastError();
    scm::ServiceConfig config;
    config.name = kServiceName;
    config.displayName = "Vostrel Web Server";
    config.binaryPath = kServiceBinPath;
    config.startType = scm::kAutoStart;
    service_ = scm::CreateService(manager, config);
    ASSERT_TRUE(service_) << "create failed with " << scm::LastError();
    ASSERT_TRUE(scm::StartService(service_)) << "start failed with " << scm::LastError();
    ASSERT_TRUE(WaitForState(scm::kRunning));
    ASSERT_TRUE(scm::QueryProcessId(service_, &pid_));
  }

  void StopOrKill() {
    if (!service_) return;
    uint32_t pid = 0;
    if (scm::QueryProcessId(service_, &pid)) {
      scm::ServiceStatus st;
      scm::SendControl(service_, scm::kControlStop, &st);
      if (!WaitForState(scm::kStopped, 10000)) plat::KillProcess(pid);
      WaitProcessGone(pid);
    }
    if (pid_ != 0 && plat::ProcessAlive(pid_)) plat::KillProcess(pid_);
  }

  uint32_t State() {
    scm::ServiceStatus st;
    return scm::QueryStatus(service_, &st) ? st.currentState : 0;
  }

  bool WaitForState(uint32_t state, int timeoutMs = 20000) {
    return WaitFor([&] { return State() == state; }, timeoutMs);
  }

  // The kernel's table of TCP sockets: is one listening on 127.0.0.1 or any
  // address at this port? (Asks without connecting, so nothing is counted.)
  static bool IsListening(uint16_t port) {
    std::ifstream in("/proc/net/tcp");
    std::string line;
    char wantLoop[32], wantAny[32];
    std::snprintf(wantLoop, sizeof wantLoop, "0100007F:%04X", port);
    std::snprintf(wantAny, sizeof wantAny, "00000000:%04X", port);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if ((local == wantLoop || local == wantAny) && state == "0A") return true;
    }
    return false;
  }

  bool WaitListening(uint16_t port) {
    return WaitFor([&] { return IsListening(port); }, 20000);
  }

  // A loopback port that nothing uses right now.
  static uint16_t FreePort() {
    for (int attempt = 0; attempt < 500; ++attempt) {
      const uint16_t port = testsupport::RandomPortCandidate();
      if (testsupport::CanBindLoopback(port) && !IsListening(port)) return port;
    }
    return 0;
  }

  // curl with the given arguments before the URL of path on the port.
  CurlResult Curl(uint16_t port, const std::string& path, const std::string& args = "") {
    const std::string out = scratch_ + "/body", head = scratch_ + "/headers",
                      code = scratch_ + "/code";
    std::filesystem::remove(out);
    std::filesystem::remove(head);
    const std::string command = "curl -s --max-time 20 -A 'vostrel-e2e-agent' -o '" + out +
                                "' -D '" + head + "' -w '%{http_code}' " + args +
                                " 'http://127.0.0.1:" + std::to_string(port) + path + "' > '" +
                                code + "' 2>/dev/null";
    CurlResult r;
    const int status = std::system(command.c_str());
    r.exitCode = status == -1 ? -1 : (status >> 8) & 0xff;
    r.status = ReadWholeFile(code);
    r.headers = ReadWholeFile(head);
    r.body = ReadWholeFile(out);
    return r;
  }

  // A raw HTTP exchange on a socket of the platform layer.
  static std::string Exchange(uint16_t port, const std::string& request) {
    const plat::net::Socket s = plat::net::CreateTcpSocket();
    std::string reply;
    if (plat::net::Connect(s, "127.0.0.1", port) == 0) {
      plat::net::Send(s, request.data(), static_cast<int>(request.size()), 0);
      char buf[4096];
      int n;
      while ((n = plat::net::RecvTimeout(s, buf, sizeof buf, 0, 20000)) > 0) reply.append(buf, n);
    }
    plat::net::CloseSocket(s);
    return reply;
  }

  bool ReadStatus(vostrel::StatusRecord* record) const {
    const std::string bytes = ReadWindowsFile(kStatusPath);
    if (bytes.size() != sizeof *record) return false;
    std::memcpy(record, bytes.data(), sizeof *record);
    return true;
  }

  std::string ReadLog() const { return ReadWindowsFile(kLogPath); }

  bool WaitLogHas(const std::string& text, int timeoutMs = 20000) const {
    return WaitFor([&] { return ReadLog().find(text) != std::string::npos; }, timeoutMs);
  }

  testsupport::ScopedMachine machine_{"e2e"};
  std::string scratch_;
  std::string binDir_;
  scm::Service service_;
  uint32_t pid_ = 0;
};
