// MappedFile over a POSIX descriptor and one MAP_SHARED view; Flush is
// msync plus fdatasync so the bytes are on disk when it returns.
#include "platform/mapping/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/faults/faults.h"
#include "platform/machine/machine.h"

namespace plat {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
// O_DSYNC stands in for FILE_FLAG_WRITE_THROUGH on the descriptor's writes.
constexpr int kOpenFlags = O_RDWR | O_CLOEXEC | O_DSYNC;

// A new file's name must reach the disk too, or a crash can lose the file
// whose bytes Flush already made durable.
void SyncParentFolder(const std::string& native) {
  std::string::size_type slash = native.rfind('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : native.substr(0, slash);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  (void)::fsync(dir);
  ::close(dir);
}

}  // namespace

MappedFile::~MappedFile() {
  Unmap();
  Close();
}

bool MappedFile::Create(const std::string& windowsPath) {
  if (fd_ >= 0) return false;
  std::string native = ToNativePath(windowsPath);
  fd_ = ::open(native.c_str(), kOpenFlags | O_CREAT | O_EXCL, kNewFileMode);
  if (fd_ < 0) return false;
  SyncParentFolder(native);
  return true;
}

bool MappedFile::OpenExisting(const std::string& windowsPath) {
  if (fd_ >= 0) return false;
  int fd = ::open(ToNativePath(windowsPath).c_str(), kOpenFlags);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

int64_t MappedFile::FileSize() const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool MappedFile::Grow(int64_t size) {
  int64_t current = FileSize();
  if (current < 0 || size < 0) return false;
  if (size <= current) return true;
  // Reserve the blocks now: a sparse file would turn a full disk into a
  // SIGBUS on some later store into the view instead of a failed Grow.
  int rc = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
  if (rc == 0) return true;
  if (rc != EOPNOTSUPP && rc != EINVAL) {
    (void)::ftruncate(fd_, static_cast<off_t>(current));
    return false;
  }
  return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

uint8_t* MappedFile::Map() {
  if (fd_ < 0) return nullptr;
  if (view_ != nullptr) return view_;
  if (ShouldFail(FaultPoint::MapFile)) return nullptr;
  int64_t size = FileSize();
  if (size <= 0) return nullptr;
  void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) return nullptr;
  view_ = static_cast<uint8_t*>(p);
  viewSize_ = size;
  return view_;
}

bool MappedFile::Flush() {
  if (fd_ < 0) return false;
  if (view_ != nullptr && ::msync(view_, static_cast<size_t>(viewSize_), MS_SYNC) != 0)
    return false;
  // File systems without sync support (EINVAL) have nothing more to do.
  return ::fdatasync(fd_) == 0 || errno == EINVAL;
}

bool MappedFile::Unmap() {
  if (view_ == nullptr) return false;
  bool ok = ::munmap(view_, static_cast<size_t>(viewSize_)) == 0;
  view_ = nullptr;
  viewSize_ = 0;
  return ok;
}

bool MappedFile::Close() {
  if (fd_ < 0) return false;
  Unmap();
  bool ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

}  // namespace plat
