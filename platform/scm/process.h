// Process queries for the service control manager and its tests: the
// caller's id, whether a process still runs, and ending one at once.
#pragma once
#include <cstdint>

namespace plat {

uint32_t CurrentProcessId();
// false for a process that has ended (also while it waits to be reaped).
bool ProcessAlive(uint32_t pid);
// TerminateProcess: ends the process at once (SIGKILL); true when sent.
bool KillProcess(uint32_t pid);

}  // namespace plat
