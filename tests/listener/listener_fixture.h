// Test fixture for the listener: a fresh machine folder (VOSTREL_MACHINE) per
// test with its system folder, the server lock, and helpers for files and
// loopback sockets.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/locks/locks.h"
#include "platform/machine/machine.h"
#include "platform/sockets/sockets.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"

class ListenerMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vostrel-listener-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = std::filesystem::canonical(tmpl).string();
    const char* old = std::getenv("VOSTREL_MACHINE");
    if (old != nullptr) oldMachine_ = old;
    setenv("VOSTREL_MACHINE", root_.c_str(), 1);
    unsetenv("SystemRoot");
    ASSERT_TRUE(plat::EnsureMachineLayout());
    vostrel::CloseServerLog();  // the next entry opens this machine's log
    lock_ = std::make_unique<plat::Mutex>();
    vostrel::ServerLock = lock_.get();
    vostrel::ServerRunning = 1;
    // Held for the whole test, so a server's clean-up leaves the test's sockets alone.
    plat::net::Startup();
  }

  void TearDown() override {
    plat::net::Cleanup();
    vostrel::CloseServerLog();
    vostrel::ServerLock = nullptr;
    lock_.reset();
    if (oldMachine_) {
      setenv("VOSTREL_MACHINE", oldMachine_->c_str(), 1);
    } else {
      unsetenv("VOSTREL_MACHINE");
    }
    std::filesystem::remove_all(root_);
  }

  void WriteWindowsFile(const std::string& windowsPath, const std::string& bytes) const {
    const std::string native = plat::ToNativePath(windowsPath);
    std::filesystem::create_directories(std::filesystem::path(native).parent_path());
    std::ofstream(native, std::ios::binary) << bytes;
  }

  std::string ReadWindowsFile(const std::string& windowsPath) const {
    std::ifstream in(plat::ToNativePath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string ReadLog() const { return ReadWindowsFile("C:\\WINDOWS\\system\\VostrelWeb.log"); }

  std::string root_;
  std::optional<std::string> oldMachine_;
  std::unique_ptr<plat::Mutex> lock_;
};

// A loopback port that nothing listens on right now (socket library started).
inline uint16_t FreeLoopbackPort() {
  for (int attempt = 0; attempt < 200; ++attempt) {
    const uint16_t port = static_cast<uint16_t>(20000 + std::rand() % 30000);
    const plat::net::Socket s = plat::net::CreateTcpSocket();
    const bool bound = plat::net::Bind(s, "127.0.0.1", port) == 0;
    plat::net::CloseSocket(s);
    if (bound) return port;
  }
  return 0;
}

// A connected pair on loopback: {client, server side}.
struct SocketPair {
  plat::net::Socket client = plat::net::kInvalidSocket;
  plat::net::Socket server = plat::net::kInvalidSocket;
};

inline SocketPair MakeSocketPair() {
  SocketPair pair;
  const plat::net::Socket listening = plat::net::CreateTcpSocket();
  uint16_t port = 0;
  for (int attempt = 0; attempt < 200 && port == 0; ++attempt) {
    const uint16_t candidate = static_cast<uint16_t>(20000 + std::rand() % 30000);
    if (plat::net::Bind(listening, "127.0.0.1", candidate) == 0) port = candidate;
  }
  if (port == 0 || plat::net::Listen(listening, 1) != 0) return pair;
  pair.client = plat::net::CreateTcpSocket();
  if (plat::net::Connect(pair.client, "127.0.0.1", port) != 0) return pair;
  plat::net::PeerAddress peer;
  pair.server = plat::net::Accept(listening, &peer);
  plat::net::CloseSocket(listening);
  return pair;
}
