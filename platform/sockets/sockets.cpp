// Windows Sockets semantics over BSD sockets: a handle table of small
// integers (a descriptor is closed only when its last user is done, so a
// reused descriptor is never hit by a stale handle), wake-up of blocked
// calls on close, and no SIGPIPE.
#include "platform/sockets/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/faults/faults.h"

namespace plat::net {
namespace {

constexpr Socket kFirstHandle = 100;  // far from 0 and from small descriptors

// One open socket. The descriptor is closed when the last reference goes:
// a thread blocked in accept or recv keeps its own reference.
struct Entry {
  explicit Entry(int f) : fd(f) {}
  ~Entry() { ::close(fd); }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
  const int fd;
};

struct Table {
  std::mutex m;
  std::map<Socket, std::shared_ptr<Entry>> open;
  Socket next = kFirstHandle;
  int startups = 0;
};

Table& table() {
  static Table t;
  return t;
}

std::shared_ptr<Entry> Find(Socket s) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.m);
  auto it = t.open.find(s);
  return it == t.open.end() ? nullptr : it->second;
}

// Wakes any thread blocked on the socket; the descriptor itself is closed
// when the entry's last holder lets go.
void Retire(const std::shared_ptr<Entry>& e) { ::shutdown(e->fd, SHUT_RDWR); }

// Gives the entry a fresh handle; t.m must be held. Handles are not reused
// until the counter wraps, and never collide with an open one.
Socket AddLocked(Table& t, std::shared_ptr<Entry> entry) {
  while (t.open.count(t.next) != 0) {
    t.next = t.next == INT32_MAX ? kFirstHandle : t.next + 1;
  }
  Socket s = t.next;
  t.next = t.next == INT32_MAX ? kFirstHandle : t.next + 1;
  t.open.emplace(s, std::move(entry));
  return s;
}

// false for unreadable text: its kInaddrNone would be the broadcast address,
// which Linux lets a socket bind to where Winsock refuses.
bool FillAddress(const char* addressText, uint16_t port, sockaddr_in* sa) {
  std::memset(sa, 0, sizeof *sa);
  sa->sin_family = AF_INET;
  sa->sin_port = htons(port);
  sa->sin_addr.s_addr = InetAddr(addressText);
  return sa->sin_addr.s_addr != kInaddrNone;
}

}  // namespace

bool Startup() {
  // A send to a vanished peer must give an error, never end the process.
  std::signal(SIGPIPE, SIG_IGN);
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.m);
  ++t.startups;
  return true;
}

void Cleanup() {
  std::map<Socket, std::shared_ptr<Entry>> closing;
  {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.m);
    if (t.startups > 0) --t.startups;
    if (t.startups > 0) return;  // only the last clean-up ends the library
    closing.swap(t.open);
  }
  for (auto& [handle, entry] : closing) Retire(entry);
}

Socket CreateTcpSocket() {
  Table& t = table();
  {
    std::lock_guard<std::mutex> lock(t.m);
    if (t.startups == 0) return kInvalidSocket;  // library not started
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return kInvalidSocket;
  auto entry = std::make_shared<Entry>(fd);
  std::lock_guard<std::mutex> lock(t.m);
  if (t.startups == 0) return kInvalidSocket;  // cleaned up meanwhile
  return AddLocked(t, std::move(entry));
}

uint32_t InetAddr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  return ::inet_addr(text);
}

int Bind(Socket s, const char* addressText, uint16_t port) {
  auto e = Find(s);
  if (!e) return kSocketError;
  sockaddr_in sa;
  if (!FillAddress(addressText, port, &sa)) return kSocketError;
  // SO_REUSEADDR gives Windows' rule: a port with only closed connections
  // in TIME_WAIT (a service restart) binds again, while a port another
  // socket listens on still refuses us (Linux checks listeners regardless).
  int reuse = 1;
  ::setsockopt(e->fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  return ::bind(e->fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0
             ? 0
             : kSocketError;
}

int Listen(Socket s, int backlog) {
  auto e = Find(s);
  if (!e) return kSocketError;
  return ::listen(e->fd, backlog) == 0 ? 0 : kSocketError;
}

Socket Accept(Socket s, PeerAddress* peer) {
  auto e = Find(s);
  if (!e) return kInvalidSocket;
  sockaddr_in sa;
  socklen_t len;
  int fd;
  do {
    std::memset(&sa, 0, sizeof sa);
    len = sizeof sa;
    // Blocks; CloseSocket or Cleanup elsewhere shuts the socket down, which
    // makes accept return with an error.
    fd = ::accept4(e->fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
  } while (fd < 0 && (errno == EINTR || errno == ECONNABORTED) && Find(s) == e);
  if (fd < 0) return kInvalidSocket;
  auto entry = std::make_shared<Entry>(fd);

  Table& t = table();
  std::lock_guard<std::mutex> lock(t.m);
  if (t.open.count(s) == 0) return kInvalidSocket;  // closed while we waited
  Socket handle = AddLocked(t, std::move(entry));
  if (peer != nullptr) {
    peer->family = kAfInet;
    peer->port = sa.sin_port;
    peer->address = sa.sin_addr.s_addr;
  }
  return handle;
}

int Connect(Socket s, const char* addressText, uint16_t port) {
  auto e = Find(s);
  if (!e) return kSocketError;
  sockaddr_in sa;
  if (!FillAddress(addressText, port, &sa)) return kSocketError;
  int rc = ::connect(e->fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc != 0 && errno == EINTR) {
    // The connection goes on in the background; wait for its outcome.
    pollfd p{e->fd, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(e->fd, SOL_SOCKET, SO_ERROR, &err, &len);
    rc = err == 0 ? 0 : -1;
  }
  return rc == 0 ? 0 : kSocketError;
}

int Recv(Socket s, char* buf, int len, int flags) {
  auto e = Find(s);
  if (!e || buf == nullptr || len < 0) return kSocketError;
  int native = (flags & kMsgPeek) ? MSG_PEEK : 0;
  ssize_t n;
  do {
    n = ::recv(e->fd, buf, static_cast<size_t>(len), native);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? kSocketError : static_cast<int>(n);
}

int RecvTimeout(Socket s, char* buf, int len, int flags, uint32_t timeoutMs) {
  auto e = Find(s);
  if (!e || buf == nullptr || len < 0) return kSocketError;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - Clock::now())
                    .count();
    if (left < 0) left = 0;
    pollfd p{e->fd, POLLIN, 0};
    int rc = ::poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return kSocketError;
    if (rc == 0) {
      if (left > 0) continue;  // poll's slice ended before the deadline
      return 0;                // nothing arrived in time
    }
    break;
  }
  return Recv(s, buf, len, flags);
}

int Send(Socket s, const char* buf, int len, int flags) {
  (void)flags;  // only plain sends are used
  auto e = Find(s);
  if (!e || buf == nullptr || len < 0) return kSocketError;
  if (ShouldFail(FaultPoint::Send)) return kSocketError;
  ssize_t n;
  do {
    n = ::send(e->fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? kSocketError : static_cast<int>(n);
}

int CloseSocket(Socket s) {
  std::shared_ptr<Entry> e;
  {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.m);
    auto it = t.open.find(s);
    if (it == t.open.end()) return kSocketError;
    e = std::move(it->second);
    t.open.erase(it);
  }
  // Only wake others when someone else is inside a call on it; a plain
  // close keeps the graceful ending of a connection.
  if (e.use_count() > 1) Retire(e);
  return 0;
}

bool AddressToString(const PeerAddress& peer, char* out, uint32_t* length) {
  if (out == nullptr || length == nullptr || peer.family != kAfInet) {
    return false;
  }
  const uint32_t a = ntohl(peer.address);
  const unsigned port = ntohs(peer.port);
  char text[32];
  int n = port != 0
              ? std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", a >> 24,
                              (a >> 16) & 0xFFu, (a >> 8) & 0xFFu, a & 0xFFu, port)
              : std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24,
                              (a >> 16) & 0xFFu, (a >> 8) & 0xFFu, a & 0xFFu);
  const uint32_t needed = static_cast<uint32_t>(n) + 1;  // with the NUL
  if (needed > *length) {
    *length = needed;  // tells the caller what would have been needed
    return false;
  }
  std::memcpy(out, text, needed);
  *length = needed;
  return true;
}

int LocalPort(Socket s) {
  auto e = Find(s);
  if (!e) return kSocketError;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  socklen_t len = sizeof sa;
  if (::getsockname(e->fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    return kSocketError;
  }
  return ntohs(sa.sin_port);
}

int OpenSocketCount() {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.m);
  return static_cast<int>(t.open.size());
}

}  // namespace plat::net
