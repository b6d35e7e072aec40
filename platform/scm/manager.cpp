// The controller's side of the service control manager: handles, the
// database changes, status queries, controls and the start of a service
// program.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/machine/machine.h"
#include "platform/scm/process.h"
#include "platform/scm/scm.h"
#include "platform/scm/scm_db.h"

namespace plat::scm {

using namespace detail;

namespace {

std::atomic<uint32_t> startTimeoutMs{kDefaultStartTimeoutMs};

// Environment variables a service process takes over from its starter; the
// rest of the starter's environment stays behind, as on a real machine.
constexpr const char* kPassedVariables[] = {"PATH", "HOME", "TZ", "LANG", "LC_ALL", "TMPDIR",
                                            "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return KeyOf(a) == KeyOf(b); }

bool MakeFolders(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool IsStopped(const ServiceStatus& s) { return s.currentState == kStopped; }

// Splits a binary path into the program and its arguments.
void SplitCommandLine(const std::string& text, std::string* program, std::vector<std::string>* args) {
  args->clear();
  if (text.empty() || text[0] != '"') {
    *program = text;
    return;
  }
  std::size_t close = text.find('"', 1);
  if (close == std::string::npos) {
    *program = text.substr(1);
    return;
  }
  *program = text.substr(1, close - 1);
  std::size_t i = close + 1;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    std::string arg;
    if (text[i] == '"') {
      std::size_t end = text.find('"', i + 1);
      if (end == std::string::npos) end = text.size();
      arg = text.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      std::size_t end = text.find(' ', i);
      if (end == std::string::npos) end = text.size();
      arg = text.substr(i, end - i);
      i = end;
    }
    args->push_back(arg);
  }
}

uint32_t ExecErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kErrFileNotFound;
    case EACCES:
    case EPERM:
      return kErrAccessDenied;
    case ENOEXEC:
      return kErrBadExeFormat;
    default:
      return kErrServiceRequestTimeout;
  }
}

// The forked child's part: becomes the detached service process. Only
// async-signal-safe calls from here on, since the starter may have threads.
[[noreturn]] void RunChild(int readyWrite, int devNull, const char* program, char* const* argv,
                           char* const* envp, const char* cwd, int maxFd) {
  setsid();
  pid_t grandchild = fork();
  if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);  // the grandchild is reparented

  int w = fcntl(readyWrite, F_DUPFD, 10);
  int n = fcntl(devNull, F_DUPFD, 10);
  if (w < 0 || n < 0) _exit(127);
  dup2(n, 0);
  dup2(n, 1);
  dup2(n, 2);
  dup2(w, kReadyFd);
#ifdef SYS_close_range
  if (syscall(SYS_close_range, kReadyFd + 1, ~0U, 0) != 0)
#endif
  {
    for (int fd = kReadyFd + 1; fd < maxFd; ++fd) close(fd);
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  char msg[5];
  int pid = static_cast<int>(getpid());
  msg[0] = kMsgPid;
  std::memcpy(msg + 1, &pid, sizeof pid);
  (void)!write(kReadyFd, msg, sizeof msg);
  if (chdir(cwd) == 0) execve(program, argv, envp);
  int err = errno;
  msg[0] = kMsgExecFailed;
  std::memcpy(msg + 1, &err, sizeof err);
  (void)!write(kReadyFd, msg, sizeof msg);
  _exit(127);
}

std::vector<char*> PointersOf(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

// Starts the program and waits for its dispatcher; the caller holds the
// service's start lock.
bool LaunchAndWait(const std::string& folder, const ServiceConfig& entry, int argc,
                   const char* const* argv) {
  std::string programText;
  std::vector<std::string> binArgs;
  SplitCommandLine(plat::ExpandEnvironment(entry.binaryPath), &programText, &binArgs);
  std::string program = plat::ToNativePath(programText);
  struct stat st {};
  if (stat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Fail(kErrFileNotFound);

  std::string cwd = plat::ToNativePath(plat::WindowsDirectory() + "\\system32");
  MakeFolders(cwd);

  std::vector<std::string> argTexts{program};
  argTexts.insert(argTexts.end(), binArgs.begin(), binArgs.end());
  std::vector<std::string> envTexts;
  envTexts.push_back(std::string("VOSTREL_MACHINE=") + MachineFolderOf(folder));
  envTexts.push_back(std::string("SystemRoot=") + plat::WindowsDirectory());
  envTexts.push_back(std::string(kMarkerVariable) + "=" + entry.name);
  envTexts.push_back(std::string(kReadyFdVariable) + "=" + std::to_string(kReadyFd));
  envTexts.push_back(std::string(kArgCountVariable) + "=" + std::to_string(argc > 0 ? argc : 0));
  for (int i = 0; i < argc; ++i) {
    envTexts.push_back(std::string(kArgVariablePrefix) + std::to_string(i + 1) + "=" +
                       (argv != nullptr && argv[i] != nullptr ? argv[i] : ""));
  }
  for (const char* name : kPassedVariables) {
    if (const char* value = std::getenv(name)) envTexts.push_back(std::string(name) + "=" + value);
  }
  std::vector<char*> argPtrs = PointersOf(argTexts);
  std::vector<char*> envPtrs = PointersOf(envTexts);
  long openMax = sysconf(_SC_OPEN_MAX);
  int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;

  int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  int pipeFds[2];
  if (devNull < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
    if (devNull >= 0) close(devNull);
    return Fail(kErrAccessDenied);
  }
  pid_t child = fork();
  if (child == 0) {
    RunChild(pipeFds[1], devNull, program.c_str(), argPtrs.data(), envPtrs.data(), cwd.c_str(), maxFd);
  }
  close(pipeFds[1]);
  close(devNull);
  if (child < 0) {
    close(pipeFds[0]);
    return Fail(kErrAccessDenied);
  }
  int waitStatus = 0;
  while (waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
  }

  // Read the child's messages until the dispatcher says it is connected,
  // the pipe closes (exec failed or the program ended), or time runs out.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(startTimeoutMs.load());
  std::string received;
  uint32_t pid = 0;
  uint32_t result = kErrServiceRequestTimeout;
  bool done = false;
  while (!done) {
    long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd pfd{pipeFds[0], POLLIN, 0};
    int r = poll(&pfd, 1, static_cast<int>(left > 1000 ? 1000 : left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    char buf[64];
    ssize_t n = read(pipeFds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      result = kErrServiceRequestTimeout;  // ended (or let go of the pipe) without connecting
      break;
    }
    received.append(buf, static_cast<std::size_t>(n));
    while (!received.empty()) {
      char kind = received[0];
      if (kind == kMsgReady) {
        result = 0;
        done = true;
        break;
      }
      if (received.size() < 5) break;
      int value = 0;
      std::memcpy(&value, received.data() + 1, sizeof value);
      received.erase(0, 5);
      if (kind == kMsgPid) {
        pid = static_cast<uint32_t>(value);
      } else if (kind == kMsgExecFailed) {
        result = ExecErrorCode(value);
        done = true;
        pid = 0;  // nothing runs
        break;
      }
    }
  }
  close(pipeFds[0]);
  if (result != 0) {
    if (pid != 0 && plat::ProcessAlive(pid)) plat::KillProcess(pid);
    return Fail(result);
  }
  SetLastError(0);
  return true;
}

}  // namespace

// ---- handles ----

Manager::Manager(Manager&& other) noexcept : folder_(std::move(other.folder_)), open_(other.open_) {
  other.open_ = false;
}
Manager& Manager::operator=(Manager&& other) noexcept {
  folder_ = std::move(other.folder_);
  open_ = other.open_;
  other.open_ = false;
  return *this;
}
bool Manager::Close() {
  if (!open_) return Fail(kErrInvalidHandle);
  open_ = false;
  return true;
}

Service::Service(Service&& other) noexcept
    : folder_(std::move(other.folder_)), name_(std::move(other.name_)), open_(other.open_) {
  other.open_ = false;
}
Service& Service::operator=(Service&& other) noexcept {
  folder_ = std::move(other.folder_);
  name_ = std::move(other.name_);
  open_ = other.open_;
  other.open_ = false;
  return *this;
}
bool Service::Close() {
  if (!open_) return Fail(kErrInvalidHandle);
  open_ = false;
  return true;
}

Service MakeServiceHandle(const std::string& folder, const std::string& name) {
  Service s;
  s.folder_ = folder;
  s.name_ = name;
  s.open_ = true;
  return s;
}

// ---- calls ----

void SetStartTimeout(uint32_t ms) { startTimeoutMs = ms; }

Manager OpenManager(uint32_t /*access*/) {
  Manager m;
  std::string folder = DatabaseFolder();
  if (!MakeFolders(folder) || access(folder.c_str(), W_OK | X_OK) != 0) {
    SetLastError(kErrAccessDenied);
    return m;
  }
  FileLock probe(DatabaseLockPath(folder));  // also proves files can be made there
  if (!probe.Held()) {
    SetLastError(kErrAccessDenied);
    return m;
  }
  m.folder_ = folder;
  m.open_ = true;
  SetLastError(0);
  return m;
}

Service OpenService(const Manager& manager, const std::string& name, uint32_t /*access*/) {
  if (!manager) {
    SetLastError(kErrInvalidHandle);
    return Service();
  }
  if (!ValidName(name)) {
    SetLastError(kErrInvalidName);
    return Service();
  }
  const std::string key = KeyOf(name);
  PurgeIfDeletable(manager.Folder(), key, false);
  ServiceConfig entry;
  if (!ReadEntry(manager.Folder(), key, &entry)) {
    SetLastError(kErrServiceDoesNotExist);
    return Service();
  }
  SetLastError(0);
  return MakeServiceHandle(manager.Folder(), entry.name);
}

Service CreateService(const Manager& manager, const ServiceConfig& config, uint32_t /*access*/) {
  if (!manager) {
    SetLastError(kErrInvalidHandle);
    return Service();
  }
  if (!ValidName(config.name)) {
    SetLastError(kErrInvalidName);
    return Service();
  }
  ServiceConfig entry = config;
  if (entry.displayName.empty()) entry.displayName = entry.name;
  entry.markedForDelete = false;
  auto hasNewline = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
  if (entry.binaryPath.empty() || hasNewline(entry.binaryPath) || hasNewline(entry.displayName) ||
      entry.serviceType != kOwnProcess || entry.startType > kDisabled ||
      entry.errorControl > kErrorControlCritical) {
    SetLastError(kErrInvalidParameter);
    return Service();
  }
  const std::string& folder = manager.Folder();
  const std::string key = KeyOf(entry.name);
  FileLock lock(DatabaseLockPath(folder));
  if (!lock.Held()) {
    SetLastError(kErrAccessDenied);
    return Service();
  }
  PurgeIfDeletable(folder, key, true);
  ServiceConfig existing;
  if (ReadEntry(folder, key, &existing)) {
    SetLastError(existing.markedForDelete ? kErrServiceMarkedForDelete : kErrServiceExists);
    return Service();
  }
  for (const std::string& other : ListKeys(folder)) {
    ServiceConfig o;
    if (!ReadEntry(folder, other, &o)) continue;
    if (EqualNoCase(o.displayName, entry.displayName) || EqualNoCase(o.name, entry.displayName) ||
        EqualNoCase(o.displayName, entry.name)) {
      SetLastError(kErrDupName);
      return Service();
    }
  }
  // A status left by an earlier service of this name must not show through,
  // unless that service's process still runs.
  if (!RunLockHeld(folder, key)) unlink(StatusPath(folder, key).c_str());
  if (!WriteEntry(folder, entry)) {
    SetLastError(kErrAccessDenied);
    return Service();
  }
  SetLastError(0);
  return MakeServiceHandle(folder, entry.name);
}

bool DeleteService(const Service& service) {
  if (!service) return Fail(kErrInvalidHandle);
  const std::string& folder = service.Folder();
  const std::string key = KeyOf(service.Name());
  FileLock lock(DatabaseLockPath(folder));
  if (!lock.Held()) return Fail(kErrAccessDenied);
  ServiceConfig entry;
  if (!ReadEntry(folder, key, &entry)) return Fail(kErrServiceDoesNotExist);
  if (entry.markedForDelete) return Fail(kErrServiceMarkedForDelete);
  entry.markedForDelete = true;
  if (!WriteEntry(folder, entry)) return Fail(kErrAccessDenied);
  PurgeIfDeletable(folder, key, true);
  SetLastError(0);
  return true;
}

bool QueryStatus(const Service& service, ServiceStatus* status) {
  if (!service) return Fail(kErrInvalidHandle);
  if (status == nullptr) return Fail(kErrInvalidParameter);
  *status = CurrentStatus(service.Folder(), KeyOf(service.Name()), nullptr);
  SetLastError(0);
  return true;
}

bool QueryProcessId(const Service& service, uint32_t* pid) {
  if (!service) return Fail(kErrInvalidHandle);
  if (pid == nullptr) return Fail(kErrInvalidParameter);
  ServiceStatus s = CurrentStatus(service.Folder(), KeyOf(service.Name()), pid);
  if (IsStopped(s) || *pid == 0) return Fail(kErrServiceNotActive);
  SetLastError(0);
  return true;
}

bool QueryConfig(const Service& service, ServiceConfig* config) {
  if (!service) return Fail(kErrInvalidHandle);
  if (config == nullptr) return Fail(kErrInvalidParameter);
  if (!ReadEntry(service.Folder(), KeyOf(service.Name()), config)) return Fail(kErrServiceDoesNotExist);
  SetLastError(0);
  return true;
}

std::vector<std::string> ListServices(const Manager& manager) {
  std::vector<std::string> names;
  if (!manager) {
    SetLastError(kErrInvalidHandle);
    return names;
  }
  for (const std::string& key : ListKeys(manager.Folder())) {
    ServiceConfig entry;
    if (ReadEntry(manager.Folder(), key, &entry)) names.push_back(entry.name);
  }
  SetLastError(0);
  return names;
}

bool SendControl(const Service& service, uint32_t control, ServiceStatus* status) {
  if (!service) return Fail(kErrInvalidHandle);
  bool known = (control >= kControlStop && control <= kControlShutdown) ||
               (control >= kFirstUserControl && control <= kLastUserControl);
  if (!known) return Fail(kErrInvalidParameter);
  const std::string& folder = service.Folder();
  const std::string key = KeyOf(service.Name());
  ServiceStatus current = CurrentStatus(folder, key, nullptr);
  if (status != nullptr) *status = current;
  if (IsStopped(current)) return Fail(kErrServiceNotActive);

  SocketPath path(folder, ControlName(key));
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(kErrServiceNotActive);
  if (!path.Valid() || connect(fd, static_cast<const sockaddr*>(path.Address()), path.Length()) != 0) {
    close(fd);
    return Fail(kErrServiceNotActive);
  }
  timeval sendTimeout{kControlRequestTimeoutMs / 1000, 0};
  timeval replyTimeout{kControlReplyTimeoutMs / 1000, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &replyTimeout, sizeof replyTimeout);
  if (send(fd, &control, sizeof control, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof control)) {
    close(fd);
    return Fail(kErrServiceNotActive);
  }
  ControlReply reply;
  std::size_t got = 0;
  auto* bytes = reinterpret_cast<char*>(&reply);
  uint32_t failure = 0;
  while (got < sizeof reply) {
    ssize_t n = recv(fd, bytes + got, sizeof reply - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failure = (errno == EAGAIN || errno == EWOULDBLOCK) ? kErrServiceRequestTimeout : kErrServiceNotActive;
      break;
    }
    if (n == 0) {
      failure = kErrServiceNotActive;  // the process went away meanwhile
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  if (failure != 0) {
    if (status != nullptr) *status = CurrentStatus(folder, key, nullptr);
    return Fail(failure);
  }
  if (status != nullptr) *status = reply.status;
  if (reply.error != 0) return Fail(reply.error);
  SetLastError(0);
  return true;
}

bool StartService(const Service& service, int argc, const char* const* argv) {
  if (!service) return Fail(kErrInvalidHandle);
  const std::string& folder = service.Folder();
  const std::string key = KeyOf(service.Name());
  ServiceConfig entry;
  if (!ReadEntry(folder, key, &entry)) return Fail(kErrServiceDoesNotExist);
  if (entry.markedForDelete) return Fail(kErrServiceMarkedForDelete);
  if (entry.startType == kDisabled) return Fail(kErrServiceDisabled);
  // One start at a time per service: a second caller waits and then finds
  // the service running.
  FileLock startLock(StartLockPath(folder, key));
  if (!startLock.Held()) return Fail(kErrAccessDenied);
  if (!IsStopped(CurrentStatus(folder, key, nullptr))) return Fail(kErrServiceAlreadyRunning);
  return LaunchAndWait(folder, entry, argc, argv);
}

}  // namespace plat::scm
