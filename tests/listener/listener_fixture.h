// Test fixture for the listener: a fresh machine folder (VOSTREL_MACHINE) per
// test with its system folder, the server lock, and helpers for files and
// loopback sockets.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/locks/locks.h"
#include "platform/sockets/sockets.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"
#include "support/ports.h"
#include "support/temp_machine.h"

using testsupport::FreeLoopbackPort;
using testsupport::ReadWindowsFile;
using testsupport::WriteWindowsFile;

class ListenerMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok());
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
  }

  std::string ReadLog() const { return ReadWindowsFile("C:\\WINDOWS\\system\\VostrelWeb.log"); }

  testsupport::ScopedMachine machine_{"listener"};
  std::unique_ptr<plat::Mutex> lock_;
};

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
    const uint16_t candidate = testsupport::RandomPortCandidate();
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
