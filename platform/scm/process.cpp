// Process queries for the service control manager and its tests.
#include "platform/scm/process.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace plat {
namespace {

// The state letter of one thread from its /proc stat line, or 0.
char TaskState(const std::string& statPath) {
  FILE* f = std::fopen(statPath.c_str(), "re");
  if (f == nullptr) return 0;
  char buf[512] = {};
  std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char* close = std::strrchr(buf, ')');  // the command name may hold spaces
  if (close == nullptr || close[1] != ' ') return 0;
  return close[2];
}

}  // namespace

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessAlive(uint32_t pid) {
  if (pid == 0) return false;
  // kill(pid, 0) also succeeds for a zombie nobody has reaped, and the main
  // thread turns zombie while other threads still run their exit (holding the
  // process's files, and so its locks): alive while any thread is not a zombie.
  const std::string taskFolder = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(taskFolder.c_str());
  if (dir == nullptr) return false;
  bool alive = false;
  while (dirent* d = readdir(dir)) {
    if (d->d_name[0] == '.') continue;
    char state = TaskState(taskFolder + "/" + d->d_name + "/stat");
    if (state != 0 && state != 'Z' && state != 'X' && state != 'x') {
      alive = true;
      break;
    }
  }
  closedir(dir);
  return alive;
}

bool KillProcess(uint32_t pid) {
  if (pid == 0) return false;
  return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

}  // namespace plat
