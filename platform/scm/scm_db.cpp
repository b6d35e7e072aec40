// The service database's files: entries, status records, run locks, and the
// purge of entries marked for deletion.
#include "platform/scm/scm_db.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/machine/machine.h"
#include "platform/scm/process.h"

namespace plat::scm::detail {
namespace {

constexpr char kEntrySuffix[] = ".service";

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool HasControlChars(const std::string& s) {
  for (unsigned char c : s) {
    if (c < 0x20) return true;
  }
  return false;
}

uint32_t ToU32(const std::string& text) {
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

}  // namespace

std::string KeyOf(const std::string& name) { return Lower(name); }

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxServiceName) return false;
  if (name == "." || name == "..") return false;
  if (HasControlChars(name)) return false;
  return name.find('/') == std::string::npos && name.find('\\') == std::string::npos;
}

std::string DatabaseFolder() {
  std::string root = plat::MachineRoot();
  if (root.empty() || root[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) root = std::string(cwd) + "/" + root;
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root + "/scm";
}

std::string MachineFolderOf(const std::string& databaseFolder) {
  std::size_t slash = databaseFolder.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : databaseFolder.substr(0, slash);
}

std::string EntryPath(const std::string& folder, const std::string& key) {
  return folder + "/" + key + kEntrySuffix;
}
std::string StatusPath(const std::string& folder, const std::string& key) {
  return folder + "/" + key + ".status";
}
std::string RunPath(const std::string& folder, const std::string& key) {
  return folder + "/" + key + ".run";
}
std::string StartLockPath(const std::string& folder, const std::string& key) {
  return folder + "/" + key + ".start";
}
std::string DatabaseLockPath(const std::string& folder) { return folder + "/.lock"; }

std::string ControlName(const std::string& key) {
  // A fixed-length name keeps socket paths short whatever the service name.
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : key) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "c-%016llx.ctl", static_cast<unsigned long long>(hash));
  return buf;
}

FileLock::FileLock(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return;
    }
  }
  fd_ = fd;
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the flock
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  // Unique per thread of every process, so concurrent writers never share a
  // temporary file.
  static std::atomic<uint32_t> counter{0};
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".tmp%u-%u", plat::CurrentProcessId(), counter.fetch_add(1));
  std::string tmp = path + suffix;
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      unlink(tmp.c_str());
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content->clear();
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    content->append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

bool ReadEntry(const std::string& folder, const std::string& key, ServiceConfig* entry) {
  std::string text;
  if (!ReadWholeFile(EntryPath(folder, key), &text)) return false;
  ServiceConfig e;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string field = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (field == "name") e.name = value;
    else if (field == "display") e.displayName = value;
    else if (field == "type") e.serviceType = ToU32(value);
    else if (field == "start") e.startType = ToU32(value);
    else if (field == "error") e.errorControl = ToU32(value);
    else if (field == "binary") e.binaryPath = value;
    else if (field == "deleted") e.markedForDelete = value == "1";
  }
  if (e.name.empty()) return false;
  *entry = e;
  return true;
}

bool WriteEntry(const std::string& folder, const ServiceConfig& e) {
  std::ostringstream out;
  out << "name=" << e.name << "\n"
      << "display=" << e.displayName << "\n"
      << "type=" << e.serviceType << "\n"
      << "start=" << e.startType << "\n"
      << "error=" << e.errorControl << "\n"
      << "binary=" << e.binaryPath << "\n"
      << "deleted=" << (e.markedForDelete ? 1 : 0) << "\n";
  return WriteFileAtomically(EntryPath(folder, KeyOf(e.name)), out.str());
}

std::vector<std::string> ListKeys(const std::string& folder) {
  std::vector<std::string> keys;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return keys;
  const std::size_t suffixLength = std::strlen(kEntrySuffix);
  while (dirent* d = readdir(dir)) {
    std::string name = d->d_name;
    if (name.size() > suffixLength &&
        name.compare(name.size() - suffixLength, suffixLength, kEntrySuffix) == 0) {
      keys.push_back(name.substr(0, name.size() - suffixLength));
    }
  }
  closedir(dir);
  return keys;
}

bool ReadStatusFile(const std::string& folder, const std::string& key, StoredStatus* out) {
  std::string text;
  if (!ReadWholeFile(StatusPath(folder, key), &text)) return false;
  StoredStatus st;
  ServiceStatus& s = st.status;
  int n = std::sscanf(text.c_str(), "%u %u %u %u %u %u %u %u", &s.serviceType, &s.currentState,
                      &s.controlsAccepted, &s.win32ExitCode, &s.serviceSpecificExitCode,
                      &s.checkPoint, &s.waitHint, &st.pid);
  if (n != 8) return false;
  *out = st;
  return true;
}

bool WriteStatusFile(const std::string& folder, const std::string& key, const StoredStatus& st) {
  const ServiceStatus& s = st.status;
  char buf[160];
  std::snprintf(buf, sizeof buf, "%u %u %u %u %u %u %u %u\n", s.serviceType, s.currentState,
                s.controlsAccepted, s.win32ExitCode, s.serviceSpecificExitCode, s.checkPoint,
                s.waitHint, st.pid);
  return WriteFileAtomically(StatusPath(folder, key), buf);
}

bool RunLockHeld(const std::string& folder, const std::string& key) {
  int fd = open(RunPath(folder, key).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // A shared probe: queriers do not exclude one another, only the holder.
  bool held = false;
  for (;;) {
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    held = errno == EWOULDBLOCK;
    break;
  }
  close(fd);
  return held;
}

ServiceStatus CurrentStatus(const std::string& folder, const std::string& key, uint32_t* pid) {
  StoredStatus st;
  bool have = ReadStatusFile(folder, key, &st);
  bool held = RunLockHeld(folder, key);
  if (pid != nullptr) *pid = 0;
  ServiceStatus s;
  s.serviceType = kOwnProcess;
  if (!held) {
    s.currentState = kStopped;
    if (have && st.status.currentState == kStopped) {
      s.win32ExitCode = st.status.win32ExitCode;
      s.serviceSpecificExitCode = st.status.serviceSpecificExitCode;
    } else if (have) {
      s.win32ExitCode = kErrProcessAborted;  // ended without reporting STOPPED
    }
    return s;
  }
  if (!have) {
    // The process has its lock but has not written its first status yet.
    s.currentState = kStartPending;
    return s;
  }
  if (pid != nullptr) *pid = st.pid;
  return st.status;
}

void PurgeIfDeletable(const std::string& folder, const std::string& key, bool lockHeld) {
  if (!lockHeld) {
    FileLock lock(DatabaseLockPath(folder));
    if (lock.Held()) PurgeIfDeletable(folder, key, true);
    return;
  }
  ServiceConfig entry;
  if (!ReadEntry(folder, key, &entry) || !entry.markedForDelete) return;
  if (CurrentStatus(folder, key, nullptr).currentState != kStopped) return;
  unlink(EntryPath(folder, key).c_str());
  unlink(StatusPath(folder, key).c_str());
  // The run and start lock files stay: removing a file that another process
  // may be about to lock would let two processes hold "the" lock.
}

SocketPath::SocketPath(const std::string& folder, const std::string& fileName) {
  full_ = folder + "/" + fileName;
  sockaddr_un addr{};
  static_assert(sizeof(storage_) >= sizeof(sockaddr_un));
  addr.sun_family = AF_UNIX;
  std::string path = full_;
  if (path.size() >= sizeof(addr.sun_path)) {
    dirFd_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return;
    path = "/proc/self/fd/" + std::to_string(dirFd_) + "/" + fileName;
    if (path.size() >= sizeof(addr.sun_path)) return;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  std::memcpy(storage_, &addr, sizeof addr);
  length_ = static_cast<unsigned>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  valid_ = true;
}

SocketPath::~SocketPath() {
  if (dirFd_ >= 0) close(dirFd_);
}

}  // namespace plat::scm::detail
