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
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "common/StatusRecord.h"
#include "platform/machine/machine.h"
#include "platform/scm/process.h"
#include "platform/scm/scm.h"
#include "platform/sockets/sockets.h"

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
    char tmpl[] = "/tmp/vostrel-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = std::filesystem::canonical(tmpl).string();
    if (const char* old = std::getenv("VOSTREL_MACHINE")) oldMachine_ = old;
    setenv("VOSTREL_MACHINE", root_.c_str(), 1);
    unsetenv("SystemRoot");
    ASSERT_TRUE(plat::EnsureMachineLayout());
    scratch_ = root_ + "/scratch";
    std::filesystem::create_directories(scratch_);
    const char* bin = std::getenv("VOSTREL_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "VOSTREL_BIN_DIR names the built programs";
    binDir_ = bin;
    std::filesystem::create_symlink(binDir_ + "/vostreld", plat::ToNativePath(kInstalledServer));
    plat::net::Startup();
  }

  void TearDown() override {
    StopOrKill();
    if (oldMachine_) {
      setenv("VOSTREL_MACHINE", oldMachine_->c_str(), 1);
    } else {
      unsetenv("VOSTREL_MACHINE");
    }
    std::filesystem::remove_all(root_);
  }

  // Registers the service (automatic start, as the installer does) and starts it.
  void StartServer(const std::string& port, const std::string& address = "127.0.0.1") {
    WriteFile(kConfigPath, address + "\n" + port + "\n" + kDocumentRoot + "\nsecret\n");
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

  static bool WaitProcessGone(uint32_t pid, int timeoutMs = 20000) {
    return WaitFor([&] { return !plat::ProcessAlive(pid); }, timeoutMs);
  }

  template <typename Pred>
  static bool WaitFor(Pred done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
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
      const uint16_t port = static_cast<uint16_t>(20000 + std::rand() % 40000);
      if (port >= 65000) continue;
      const plat::net::Socket s = plat::net::CreateTcpSocket();
      const bool bound = plat::net::Bind(s, "127.0.0.1", port) == 0;
      plat::net::CloseSocket(s);
      if (bound && !IsListening(port)) return port;
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
    r.status = ReadNative(code);
    r.headers = ReadNative(head);
    r.body = ReadNative(out);
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
    const std::string bytes = ReadFile(kStatusPath);
    if (bytes.size() != sizeof *record) return false;
    std::memcpy(record, bytes.data(), sizeof *record);
    return true;
  }

  std::string ReadLog() const { return ReadFile(kLogPath); }

  bool WaitLogHas(const std::string& text, int timeoutMs = 20000) const {
    return WaitFor([&] { return ReadLog().find(text) != std::string::npos; }, timeoutMs);
  }

  void WriteFile(const std::string& windowsPath, const std::string& bytes) const {
    const std::string native = plat::ToNativePath(windowsPath);
    std::filesystem::create_directories(std::filesystem::path(native).parent_path());
    std::ofstream(native, std::ios::binary) << bytes;
  }

  std::string ReadFile(const std::string& windowsPath) const {
    return ReadNative(plat::ToNativePath(windowsPath));
  }

  static std::string ReadNative(const std::string& native) {
    std::ifstream in(native, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string root_;
  std::string scratch_;
  std::string binDir_;
  std::optional<std::string> oldMachine_;
  scm::Service service_;
  uint32_t pid_ = 0;
};
