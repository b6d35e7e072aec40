// Inside the service control manager: the files of the service database and
// the protocol between a controller and a service's dispatcher.
//
// Below the database folder (<machine>/scm/), per service key (the name in
// lower case):
//   <key>.service  the entry (name, display name, types, binary path, mark)
//   <key>.status   the last reported status and the service's process id
//   <key>.run      held with an exclusive flock by the running service process
//   <key>.start    flock serialising StartService calls
//   c-<hash>.ctl   the dispatcher's control socket
//   .lock          flock held by every change of an entry
// Every file is replaced by write and rename, so readers never see half of one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/scm/scm.h"

namespace plat::scm::detail {

constexpr char kMarkerVariable[] = "VOSTREL_SERVICE_NAME";   // names the service to its process
constexpr char kReadyFdVariable[] = "VOSTREL_SCM_READY_FD";  // where the dispatcher says "connected"
constexpr char kArgCountVariable[] = "VOSTREL_SERVICE_ARGC";
constexpr char kArgVariablePrefix[] = "VOSTREL_SERVICE_ARG";
constexpr int kReadyFd = 3;

// Start-up pipe messages: 'P' + pid (the program was forked), 'E' + errno
// (exec failed), 'R' (the dispatcher has connected).
constexpr char kMsgPid = 'P';
constexpr char kMsgExecFailed = 'E';
constexpr char kMsgReady = 'R';

constexpr uint32_t kDefaultStartTimeoutMs = 30000;
constexpr uint32_t kRunLockWaitMs = 20000;        // a new process waits for the old one to go
constexpr uint32_t kControlReplyTimeoutMs = 30000;
constexpr uint32_t kControlRequestTimeoutMs = 5000;
constexpr uint32_t kStartPendingHintMs = 2000;
constexpr uint32_t kPollSliceMs = 20;

// What a controller sends: the control code. What it gets back.
struct ControlReply {
  uint32_t error = 0;  // 0, or the Windows code the call fails with
  ServiceStatus status;
};

std::string KeyOf(const std::string& name);
bool ValidName(const std::string& name);

// Native absolute folder of the database for the current machine root.
std::string DatabaseFolder();
std::string MachineFolderOf(const std::string& databaseFolder);

std::string EntryPath(const std::string& folder, const std::string& key);
std::string StatusPath(const std::string& folder, const std::string& key);
std::string RunPath(const std::string& folder, const std::string& key);
std::string StartLockPath(const std::string& folder, const std::string& key);
std::string ControlName(const std::string& key);  // file name within the folder

// An exclusive flock on a file (created if missing), released at destruction.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The lock every change of the database holds.
std::string DatabaseLockPath(const std::string& folder);

bool WriteFileAtomically(const std::string& path, const std::string& content);
bool ReadWholeFile(const std::string& path, std::string* content);

bool ReadEntry(const std::string& folder, const std::string& key, ServiceConfig* entry);
bool WriteEntry(const std::string& folder, const ServiceConfig& entry);
std::vector<std::string> ListKeys(const std::string& folder);

struct StoredStatus {
  ServiceStatus status;
  uint32_t pid = 0;
};
bool ReadStatusFile(const std::string& folder, const std::string& key, StoredStatus* out);
bool WriteStatusFile(const std::string& folder, const std::string& key, const StoredStatus& st);

// True while a process holds the service's run lock.
bool RunLockHeld(const std::string& folder, const std::string& key);

// The status as controllers see it: the stored one while the process lives,
// kStopped once it has gone. pid (may be null) is 0 when stopped.
ServiceStatus CurrentStatus(const std::string& folder, const std::string& key, uint32_t* pid);

// Removes the entry when it is marked for deletion and its service stopped.
// Takes the database lock unless the caller holds it.
void PurgeIfDeletable(const std::string& folder, const std::string& key, bool lockHeld);

// A unix socket address for a file in a folder; paths too long for
// sockaddr_un go through /proc/self/fd of an open folder handle.
class SocketPath {
 public:
  SocketPath(const std::string& folder, const std::string& fileName);
  ~SocketPath();
  SocketPath(const SocketPath&) = delete;
  SocketPath& operator=(const SocketPath&) = delete;
  bool Valid() const { return valid_; }
  const void* Address() const { return storage_; }
  unsigned Length() const { return length_; }
  const std::string& FullPath() const { return full_; }

 private:
  alignas(8) unsigned char storage_[112] = {};
  unsigned length_ = 0;
  int dirFd_ = -1;
  bool valid_ = false;
  std::string full_;
};

}  // namespace plat::scm::detail
