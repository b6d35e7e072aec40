// A whole file mapped shared for read and write, with durable flushes.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();  // unmaps and closes whatever is still open
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // CREATE_NEW: fails when the file exists. OpenExisting: fails when missing.
  // Write-through where the platform offers it.
  bool Create(const std::string& windowsPath);
  bool OpenExisting(const std::string& windowsPath);
  bool IsOpen() const { return fd_ >= 0; }
  int64_t FileSize() const;
  // Grows the file to size bytes (new bytes zero); never shrinks.
  bool Grow(int64_t size);
  // Maps the whole file (its current size) shared, read and write. The
  // address stays fixed until Unmap. nullptr on failure.
  uint8_t* Map();
  uint8_t* View() const { return view_; }
  int64_t ViewSize() const { return viewSize_; }
  // Writes the whole view back and waits until it is on disk.
  bool Flush();
  bool Unmap();
  bool Close();

 private:
  int fd_ = -1;
  uint8_t* view_ = nullptr;
  int64_t viewSize_ = 0;
};

}  // namespace plat
