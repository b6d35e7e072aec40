// C-runtime style streams over POSIX descriptors, with Windows text-mode
// translation, and the file-system queries the system code uses.
#include "platform/files/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/faults/faults.h"
#include "platform/machine/machine.h"

namespace plat {
namespace {

constexpr std::size_t kReadAhead = 64 * 1024;
constexpr std::size_t kDirectRead = 1024;  // binary reads this large skip the read-ahead
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as fopen does
constexpr mode_t kNewFolderMode = 0777;

struct ModeFlags {
  bool ok = false;
  int flags = 0;
  bool text = true;  // the C runtime's default translation mode
  bool append = false;
  bool readable = false;
  bool writable = false;
};

ModeFlags ParseMode(const char* mode) {
  ModeFlags m;
  if (mode == nullptr || *mode == '\0') return m;
  bool plus = false;
  for (const char* c = mode + 1; *c != '\0'; ++c) {
    if (*c == '+') plus = true;
    if (*c == 'b') m.text = false;
    if (*c == 't') m.text = true;
  }
  switch (mode[0]) {
    case 'r':
      m.flags = plus ? O_RDWR : O_RDONLY;
      m.readable = true;
      m.writable = plus;
      break;
    case 'w':
      m.flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
      m.readable = plus;
      m.writable = true;
      break;
    case 'a':
      m.flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      m.readable = plus;
      m.writable = true;
      m.append = true;
      break;
    default:
      return m;
  }
  m.ok = true;
  return m;
}

bool IsRegularFile(const std::string& path, const dirent* e) {
  if (e->d_type == DT_REG) return true;
  if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) return false;
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this == &other) return *this;
  Close();
  fd_ = other.fd_;
  sizeAtOpen_ = other.sizeAtOpen_;
  text_ = other.text_;
  append_ = other.append_;
  readable_ = other.readable_;
  writable_ = other.writable_;
  in_ = std::move(other.in_);
  inPos_ = other.inPos_;
  lock_ = std::move(other.lock_);
  other.fd_ = -1;
  other.in_.clear();
  other.inPos_ = 0;
  return *this;
}

File File::Open(const std::string& windowsPath, const char* mode) {
  File f;
  ModeFlags m = ParseMode(mode);
  if (!m.ok || ShouldFail(FaultPoint::FileOpen)) return f;
  std::string native = ToNativePath(windowsPath);
  int fd = ::open(native.c_str(), m.flags | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return f;
  // Windows cannot open a folder as a stream; Linux can for reading.
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return f;
  }
  f.fd_ = fd;
  f.sizeAtOpen_ = static_cast<int64_t>(st.st_size);
  f.text_ = m.text;
  f.append_ = m.append;
  f.readable_ = m.readable;
  f.writable_ = m.writable;
  f.lock_ = std::make_unique<std::mutex>();
  return f;
}

int File::Fill() {
  if (inPos_ == in_.size()) {
    in_.clear();
    inPos_ = 0;
  }
  std::size_t old = in_.size();
  in_.resize(old + kReadAhead);
  ssize_t n;
  do {
    n = ::read(fd_, in_.data() + old, kReadAhead);
  } while (n < 0 && errno == EINTR);
  in_.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
  return n < 0 ? -1 : static_cast<int>(n);
}

int File::GetByte() {
  if (inPos_ == in_.size() && Fill() <= 0) return -1;
  unsigned char c = static_cast<unsigned char>(in_[inPos_++]);
  if (text_ && c == '\r') {
    // CR LF reads as LF; a lone CR stays as it is.
    if (inPos_ == in_.size() && Fill() <= 0) return c;
    if (in_[inPos_] == '\n') {
      ++inPos_;
      return '\n';
    }
  }
  return c;
}

void File::DropReadAhead() {
  std::size_t unread = in_.size() - inPos_;
  if (unread > 0) ::lseek(fd_, -static_cast<off_t>(unread), SEEK_CUR);
  in_.clear();
  inPos_ = 0;
}

char* File::GetLine(char* buf, int size) {
  if (fd_ < 0 || !readable_ || buf == nullptr || size <= 0) return nullptr;
  std::lock_guard<std::mutex> guard(*lock_);
  if (ShouldFail(FaultPoint::FileRead)) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = GetByte();
    if (c < 0) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  if (n == 0 && size > 1) return nullptr;
  return buf;
}

std::size_t File::Read(void* buf, std::size_t size, std::size_t count) {
  if (fd_ < 0 || !readable_ || buf == nullptr || size == 0 || count == 0) return 0;
  std::lock_guard<std::mutex> guard(*lock_);
  if (ShouldFail(FaultPoint::FileRead)) return 0;
  char* out = static_cast<char*>(buf);
  std::size_t want = size * count;
  std::size_t got = 0;
  if (text_) {
    while (got < want) {
      int c = GetByte();
      if (c < 0) break;
      out[got++] = static_cast<char>(c);
    }
  } else {
    while (got < want) {
      if (inPos_ == in_.size() && want - got >= kDirectRead) {
        // A block read goes straight into the caller's buffer, not through
        // the read-ahead (a whole file read into memory at once).
        ssize_t n;
        do {
          n = ::read(fd_, out + got, want - got);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
        continue;
      }
      if (inPos_ == in_.size() && Fill() <= 0) break;
      std::size_t take = std::min(want - got, in_.size() - inPos_);
      std::memcpy(out + got, in_.data() + inPos_, take);
      inPos_ += take;
      got += take;
    }
  }
  return got / size;
}

bool File::WriteAll(const char* p, std::size_t n, std::size_t* written) {
  *written = 0;
  while (*written < n) {
    ssize_t w = ::write(fd_, p + *written, n - *written);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    *written += static_cast<std::size_t>(w);
  }
  return true;
}

std::size_t File::Write(const void* buf, std::size_t size, std::size_t count) {
  if (fd_ < 0 || !writable_ || buf == nullptr || size == 0 || count == 0) return 0;
  std::lock_guard<std::mutex> guard(*lock_);
  if (ShouldFail(FaultPoint::FileWrite)) return 0;
  DropReadAhead();
  const char* src = static_cast<const char*>(buf);
  std::size_t total = size * count;
  if (!text_) {
    std::size_t written = 0;
    WriteAll(src, total, &written);
    return written / size;
  }
  // Text mode: every LF goes out as CR LF, in one write so that an append
  // from another process cannot land between the two bytes.
  std::string translated;
  translated.reserve(total + total / 8 + 2);
  for (std::size_t i = 0; i < total; ++i) {
    if (src[i] == '\n') translated += '\r';
    translated += src[i];
  }
  std::size_t written = 0;
  if (WriteAll(translated.data(), translated.size(), &written)) return count;
  // Count the source bytes whose translation reached the file whole.
  std::size_t done = 0;
  std::size_t out = 0;
  while (done < total) {
    std::size_t len = src[done] == '\n' ? 2 : 1;
    if (out + len > written) break;
    out += len;
    ++done;
  }
  return done / size;
}

int File::Seek(long offset, int whence) {
  if (fd_ < 0) return -1;
  std::lock_guard<std::mutex> guard(*lock_);
  DropReadAhead();
  return ::lseek(fd_, static_cast<off_t>(offset), whence) < 0 ? -1 : 0;
}

int File::Flush() {
  // Writes are handed to the OS as they are made; nothing waits in here.
  return fd_ < 0 ? -1 : 0;
}

int File::Close() {
  if (fd_ < 0) return -1;
  int rc = ::close(fd_);
  fd_ = -1;
  sizeAtOpen_ = 0;
  in_.clear();
  inPos_ = 0;
  lock_.reset();
  return rc == 0 ? 0 : -1;
}

bool GetFileStatus(const std::string& windowsPath, FileStatus* out) {
  FileStatus status;
  struct stat st;
  bool found = ::stat(ToNativePath(windowsPath).c_str(), &st) == 0;
  if (found) {
    status.exists = true;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.size = status.isDirectory ? 0 : static_cast<int64_t>(st.st_size);
  }
  if (out != nullptr) *out = status;
  return found;
}

int MakeDirectory(const std::string& windowsPath) {
  return ::mkdir(ToNativePath(windowsPath).c_str(), kNewFolderMode) == 0 ? 0 : -1;
}

bool DeleteFile(const std::string& windowsPath) {
  std::string native = ToNativePath(windowsPath);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(native.c_str()) == 0;
}

std::vector<std::string> ListFiles(const std::string& windowsFolder) {
  std::vector<std::string> names;
  std::string folder = windowsFolder;
  // Accept the search pattern form "folder\*.*" as well as the bare folder.
  for (const char* pattern : {"\\*.*", "/*.*", "\\*", "/*"}) {
    std::size_t n = std::strlen(pattern);
    if (folder.size() >= n && folder.compare(folder.size() - n, n, pattern) == 0) {
      folder.resize(folder.size() - n);
      break;
    }
  }
  std::string native = ToNativePath(folder);
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return names;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;  // dot-files play the hidden files
    if (IsRegularFile(native + "/" + e->d_name, e)) names.push_back(e->d_name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace plat
