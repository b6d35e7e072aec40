// The cost floor of our server's per-connection pattern on this machine: a
// bare POSIX server that makes only the calls the design fixes for each
// connection, with no emulation layer, no parsing and no real log text.
//   listener: accept; peer log entry (150-byte append + flush, 5 ms sleep,
//   5 ms sleep); a peek with a time-out; the 308-byte status rewrite; a new
//   detached thread; 75 ms sleep.
//   worker: peek, read; 10 ms sleep; open, read and close the file; 5 ms
//   sleep; two log entries (append + flush, 5 ms sleep each); one send;
//   close; 5 ms sleep; the thread ends.
// run-bench.sh runs it under the same load as vostreld and nginx, so the
// printed table separates what the pattern itself costs here from what our
// implementation adds to it.
// Usage: design_floor PORT FILE LOGFILE STATUSFILE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr int kLogEntrySize = 150;
constexpr int kStatusSize = 308;
constexpr int kRequestSize = 10000;
constexpr int kHeaderRoom = 10000;

std::string g_file;
int g_log = -1;
std::mutex g_logLock;  // the design's server lock around each entry

void SleepMs(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// One entry: the write and its sleep under the lock, then the caller's sleep.
void LogEntry() {
  char line[kLogEntrySize];
  std::memset(line, ' ', sizeof line);
  {
    std::lock_guard<std::mutex> hold(g_logLock);
    if (write(g_log, line, sizeof line) < 0) std::perror("log");
    SleepMs(5);
  }
}

void* Worker(void* arg) {
  const int s = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  static thread_local char request[kRequestSize + 1];
  pollfd p{s, POLLIN, 0};
  if (poll(&p, 1, 10000) == 1 && recv(s, request, kRequestSize, MSG_PEEK) > 0 &&
      recv(s, request, kRequestSize, 0) > 0) {
    SleepMs(10);
    std::string response;
    struct stat st {};
    const int fd = open(g_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && fstat(fd, &st) == 0) {
      response.assign(static_cast<size_t>(st.st_size) + kHeaderRoom, '\0');
      const char header[] = "HTTP/1.1 200 ok\r\nConnection: Close\r\n\r\n";
      std::memcpy(response.data(), header, sizeof header - 1);
      const ssize_t got = read(fd, response.data() + sizeof header - 1, st.st_size);
      response.resize(sizeof header - 1 + (got > 0 ? got : 0));
    }
    if (fd >= 0) close(fd);
    SleepMs(5);
    LogEntry();  // path
    LogEntry();  // User-Agent
    send(s, response.data(), response.size(), MSG_NOSIGNAL);
  }
  close(s);
  SleepMs(5);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: design_floor PORT FILE LOGFILE STATUSFILE\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  g_file = argv[2];
  g_log = open(argv[3], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int status = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int listening = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (g_log < 0 || status < 0 || listening < 0 ||
      bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listening, 5) != 0) {
    std::perror("design_floor");
    return 1;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, 1024 * 1024);
  char peek[kRequestSize];
  char record[kStatusSize] = {};
  for (;;) {
    const int s = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) continue;
    LogEntry();  // peer
    SleepMs(5);
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 1000) == 1 && recv(s, peek, sizeof peek, MSG_PEEK) > 0) {
      if (lseek(status, 0, SEEK_SET) < 0 || write(status, record, sizeof record) < 0) {
        std::perror("status");
      }
    }
    pthread_t id;
    if (pthread_create(&id, &attr, Worker, reinterpret_cast<void*>(static_cast<intptr_t>(s))) != 0) {
      close(s);
    }
    SleepMs(75);
  }
}
