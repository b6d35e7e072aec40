// Loopback ports for the servers tests start. Candidates come from a random
// engine seeded per process: test programs run side by side (ctest -j) would
// otherwise probe the same sequence and could pick one port between them.
#pragma once

#include <cstdint>
#include <random>

#include "platform/sockets/sockets.h"

namespace testsupport {

constexpr uint16_t kFirstTestPort = 20000;  // below: well-known and registered services
constexpr uint32_t kTestPortSpan = 40000;   // candidates stay below 60000, clear of 65000 tests

// A port in [20000, 60000) to try.
inline uint16_t RandomPortCandidate() {
  thread_local std::mt19937 engine{std::random_device{}()};
  return static_cast<uint16_t>(kFirstTestPort + engine() % kTestPortSpan);
}

// True when a socket could bind 127.0.0.1:port just now (socket library started).
inline bool CanBindLoopback(uint16_t port) {
  const plat::net::Socket s = plat::net::CreateTcpSocket();
  const bool bound = plat::net::Bind(s, "127.0.0.1", port) == 0;
  plat::net::CloseSocket(s);
  return bound;
}

// A loopback port that nothing is bound to right now; 0 when none was found.
inline uint16_t FreeLoopbackPort() {
  constexpr int kAttempts = 200;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const uint16_t port = RandomPortCandidate();
    if (CanBindLoopback(port)) return port;
  }
  return 0;
}

}  // namespace testsupport
