// The service program's side of the service control manager: the
// dispatcher that connects a started program to its controllers, the
// control handler registration and the status reports.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/scm/process.h"
#include "platform/scm/scm.h"
#include "platform/scm/scm_db.h"

namespace plat::scm {

using namespace detail;

namespace {

// The one dispatcher of the process. Never destroyed, so nothing tears it
// down under a thread still reporting at exit.
struct Dispatcher {
  std::mutex mutex;  // guards every member
  bool active = false;
  uint32_t generation = 0;
  std::string folder;
  std::string key;
  HandlerProc handler = nullptr;
  ServiceStatus status;
  uint32_t pid = 0;
};

Dispatcher& TheDispatcher() {
  static Dispatcher* d = new Dispatcher;
  return *d;
}

std::atomic<StatusObserver> statusObserver{nullptr};

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool IsPending(uint32_t state) {
  return state == kStartPending || state == kStopPending || state == kContinuePending ||
         state == kPausePending;
}

// Why the control cannot be delivered, or 0.
uint32_t Refusal(uint32_t control, const ServiceStatus& s, bool haveHandler) {
  if (s.currentState == kStopped) return kErrServiceNotActive;
  if (control == kControlInterrogate) return 0;
  if (!haveHandler) return kErrServiceCannotAcceptControl;
  uint32_t needed = 0;
  if (control == kControlStop) needed = kAcceptStop;
  if (control == kControlPause || control == kControlContinue) needed = kAcceptPauseContinue;
  if (control == kControlShutdown) needed = kAcceptShutdown;
  if (needed != 0 && (s.controlsAccepted & needed) == 0) return kErrInvalidServiceControl;
  if (IsPending(s.currentState)) return kErrServiceCannotAcceptControl;
  return 0;
}

bool AcquireRunLock(int fd) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRunLockWaitMs);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    // Held by the previous process of this service, which has reported
    // STOPPED and is on its way out, or by a querier's brief probe.
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
  }
}

bool ReadAll(int fd, void* buf, std::size_t size) {
  auto* p = static_cast<char*>(buf);
  std::size_t got = 0;
  while (got < size) {
    ssize_t n = recv(fd, p + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Runs one control request on the calling thread.
void ServeControl(int listenFd) {
  int conn = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (conn < 0) return;
  timeval timeout{kControlRequestTimeoutMs / 1000, 0};
  setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  uint32_t control = 0;
  if (!ReadAll(conn, &control, sizeof control)) {
    close(conn);
    return;
  }
  Dispatcher& d = TheDispatcher();
  HandlerProc handler;
  ServiceStatus before;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    handler = d.handler;
    before = d.status;
  }
  ControlReply reply;
  reply.error = Refusal(control, before, handler != nullptr);
  if (reply.error == 0 && handler != nullptr) {
    try {
      handler(control);
    } catch (...) {
      // A handler's failure is the service's business; the controller still gets the status.
    }
  }
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    reply.status = d.status;
  }
  send(conn, &reply, sizeof reply, MSG_NOSIGNAL);
  close(conn);
}

void CloseIfOpen(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace

void SetStatusObserver(StatusObserver observer) { statusObserver = observer; }

bool RunDispatcher(const DispatchEntry* table) {
  if (table == nullptr || table[0].main == nullptr) return Fail(kErrInvalidParameter);
  const char* marker = std::getenv(kMarkerVariable);
  if (marker == nullptr || *marker == '\0') return Fail(kErrServiceControllerConnect);

  const std::string name = marker;
  int readyFd = -1;
  if (const char* text = std::getenv(kReadyFdVariable)) {
    int fd = std::atoi(text);
    if (fd >= 0 && fcntl(fd, F_GETFD) >= 0) {
      readyFd = fd;
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  std::vector<std::string> argTexts{name};
  if (const char* countText = std::getenv(kArgCountVariable)) {
    int count = std::atoi(countText);
    for (int i = 1; i <= count; ++i) {
      std::string variable = std::string(kArgVariablePrefix) + std::to_string(i);
      const char* value = std::getenv(variable.c_str());
      argTexts.push_back(value != nullptr ? value : "");
      unsetenv(variable.c_str());
    }
  }
  // Programs the service starts must not take themselves for the service.
  unsetenv(kMarkerVariable);
  unsetenv(kReadyFdVariable);
  unsetenv(kArgCountVariable);

  Dispatcher& d = TheDispatcher();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.active) {
      CloseIfOpen(readyFd);
      return Fail(kErrServiceAlreadyRunning);
    }
  }
  const std::string folder = DatabaseFolder();
  const std::string key = KeyOf(name);

  int runFd = open(RunPath(folder, key).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (runFd < 0 || !AcquireRunLock(runFd)) {
    CloseIfOpen(runFd);
    CloseIfOpen(readyFd);  // the starter sees the pipe close and gives up at once
    return Fail(runFd < 0 ? kErrAccessDenied : kErrServiceAlreadyRunning);
  }
  SocketPath path(folder, ControlName(key));
  int listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int wake[2] = {-1, -1};
  bool bound = false;
  if (listenFd >= 0 && path.Valid()) {
    unlink(path.FullPath().c_str());  // a socket left by a process that died
    bound = bind(listenFd, static_cast<const sockaddr*>(path.Address()), path.Length()) == 0 &&
            listen(listenFd, 16) == 0;
  }
  if (!bound || pipe2(wake, O_CLOEXEC) != 0) {
    CloseIfOpen(listenFd);
    CloseIfOpen(runFd);
    CloseIfOpen(readyFd);
    return Fail(kErrServiceControllerConnect);
  }

  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.active = true;
    ++d.generation;
    d.folder = folder;
    d.key = key;
    d.handler = nullptr;
    d.pid = plat::CurrentProcessId();
    d.status = ServiceStatus{kOwnProcess, kStartPending, 0, 0, 0, 0, kStartPendingHintMs};
    WriteStatusFile(folder, key, StoredStatus{d.status, d.pid});
  }
  if (readyFd >= 0) {
    (void)!write(readyFd, &kMsgReady, 1);
    close(readyFd);
  }

  std::vector<char*> argv;
  for (std::string& t : argTexts) argv.push_back(t.data());
  argv.push_back(nullptr);
  const uint32_t argc = static_cast<uint32_t>(argTexts.size());
  MainProc serviceMain = table[0].main;
  const int wakeWrite = wake[1];
  std::thread serviceThread;
  bool started = true;
  try {
    serviceThread = std::thread([serviceMain, argc, &argv, wakeWrite] {
      serviceMain(argc, argv.data());
      (void)!write(wakeWrite, "x", 1);
    });
  } catch (...) {
    started = false;
  }

  while (started) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;  // the service's main procedure has returned
    if (fds[0].revents & POLLIN) ServeControl(listenFd);
  }
  if (serviceThread.joinable()) serviceThread.join();

  close(listenFd);
  unlink(path.FullPath().c_str());
  close(wake[0]);
  close(wake[1]);
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.active = false;
    d.handler = nullptr;
  }
  close(runFd);  // from here on the service reads as stopped
  PurgeIfDeletable(folder, key, false);
  if (!started) return Fail(kErrServiceControllerConnect);
  SetLastError(0);
  return true;
}

StatusHandle RegisterHandler(const char* /*name*/, HandlerProc handler) {
  Dispatcher& d = TheDispatcher();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.active) {
    SetLastError(kErrServiceControllerConnect);
    return StatusHandle{};
  }
  d.handler = handler;
  SetLastError(0);
  return StatusHandle{d.generation};
}

bool SetStatus(StatusHandle handle, const ServiceStatus& status) {
  if (!handle) return Fail(kErrInvalidHandle);
  if (status.currentState < kStopped || status.currentState > kPaused) return Fail(kErrInvalidParameter);
  Dispatcher& d = TheDispatcher();
  std::string folder;
  std::string key;
  bool written;
  {
    // Held across the file write so that reports reach the file in the
    // order they were made, whichever thread makes them.
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.active || handle.id != d.generation) return Fail(kErrInvalidHandle);
    d.status = status;
    written = WriteStatusFile(d.folder, d.key, StoredStatus{status, d.pid});
    if (StatusObserver observer = statusObserver.load()) observer(status);
    folder = d.folder;
    key = d.key;
  }
  if (status.currentState == kStopped) PurgeIfDeletable(folder, key, false);
  if (!written) return Fail(kErrAccessDenied);
  SetLastError(0);
  return true;
}

}  // namespace plat::scm
