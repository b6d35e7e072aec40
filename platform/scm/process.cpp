// Process queries for the service control manager and its tests.
#include "platform/scm/process.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace plat {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessAlive(uint32_t pid) {
  if (pid == 0) return false;
  // kill(pid, 0) also succeeds for a zombie that nobody has reaped yet; the
  // state letter in /proc tells those apart.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  FILE* f = std::fopen(path, "re");
  if (f == nullptr) return false;
  char buf[512] = {};
  std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* close = std::strrchr(buf, ')');  // the command name may hold spaces
  if (close == nullptr || close[1] != ' ') return false;
  char state = close[2];
  return state != 'Z' && state != 'X' && state != 'x';
}

bool KillProcess(uint32_t pid) {
  if (pid == 0) return false;
  return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

}  // namespace plat
