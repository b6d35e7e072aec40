// Polling waits for tests that watch another thread or process: no test
// asserts a time, they only give up after a generous deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/scm/process.h"

namespace testsupport {

// Polls done() every 20 ms until it holds or timeoutMs has passed; the last
// look comes after the deadline, so a slow machine is not failed early.
template <typename Pred>
bool WaitFor(Pred done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// True once the process has gone (exited and been reaped), false at timeout.
inline bool WaitProcessGone(uint32_t pid, int timeoutMs = 20000) {
  return WaitFor([pid] { return !plat::ProcessAlive(pid); }, timeoutMs);
}

}  // namespace testsupport
