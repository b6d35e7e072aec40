// C-runtime style file streams and file-system queries on Windows-form paths.
// Modes: "rt" (text read: CR LF reads as LF), "rb", "wb" (create/truncate),
// "a+t" (append; each LF written becomes CR LF), plus "ab" and "r+b".
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plat {

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens the Windows-form path; check IsOpen(). Other processes may read and
  // write the file while it is open.
  static File Open(const std::string& windowsPath, const char* mode);

  bool IsOpen() const { return fd_ >= 0; }
  // The file's size in bytes when it was opened (0 when not open).
  int64_t SizeAtOpen() const { return sizeAtOpen_; }
  // fgets: reads up to size-1 chars, stops after LF; NUL-terminates.
  // Returns buf, or nullptr at end of file / error with nothing read.
  char* GetLine(char* buf, int size);
  // fread/fwrite: count of whole items transferred.
  std::size_t Read(void* buf, std::size_t size, std::size_t count);
  std::size_t Write(const void* buf, std::size_t size, std::size_t count);
  int Seek(long offset, int whence);  // SEEK_SET 0, SEEK_CUR 1, SEEK_END 2; 0 on success
  int Flush();                        // 0 on success; data reaches the OS
                                      // (writes are passed to the OS at once)
  int Close();                        // 0 on success; also done by the destructor

 private:
  int Fill();            // refills the read-ahead; bytes added, 0 at end, -1 on error
  int GetByte();         // next byte after text translation, -1 at end
  void DropReadAhead();  // moves the OS position back over unread bytes
  bool WriteAll(const char* p, std::size_t n, std::size_t* written);
  int fd_ = -1;
  int64_t sizeAtOpen_ = 0;
  bool text_ = false;
  bool append_ = false;
  bool readable_ = false;
  bool writable_ = false;
  std::vector<char> in_;  // read-ahead
  std::size_t inPos_ = 0;
  std::unique_ptr<std::mutex> lock_;  // one stream may be shared by threads
};

struct FileStatus {
  bool exists = false;
  bool isDirectory = false;
  int64_t size = 0;  // 0 for a missing file or a directory
};

// stat(): false for a missing path (status then zero-filled).
bool GetFileStatus(const std::string& windowsPath, FileStatus* out);
// mkdir(): 0 on success, -1 otherwise (also when it exists).
int MakeDirectory(const std::string& windowsPath);
// DeleteFileA: true when a file was removed.
bool DeleteFile(const std::string& windowsPath);
// findfirst/findnext over "folder\*.*": plain names of regular, non-hidden
// files (no dot-files, no folders), in the order the directory gives them.
std::vector<std::string> ListFiles(const std::string& windowsFolder);

}  // namespace plat
