// The store file opened (or created) and mapped into memory whole, with
// durable flushes of the whole view.
#pragma once
#include <cstdint>

#include "platform/mapping/mapped_file.h"

namespace vostrel {

// The name of the store's file-mapping object. Kept as the file format's
// companion; on this platform a mapping has no name, so it has no effect.
inline constexpr char MappingName[] = "QUILBOK";

class TMemoryMappedFile {
 public:
  TMemoryMappedFile() = default;
  ~TMemoryMappedFile() = default;  // the platform handle releases itself
  TMemoryMappedFile(const TMemoryMappedFile&) = delete;
  TMemoryMappedFile& operator=(const TMemoryMappedFile&) = delete;

  // Opens or creates the file, grows it to requestedSize and maps it. A new
  // (missing or empty) file gets an index area of empty slots. The view, or
  // nullptr when the file or its mapping cannot be made.
  uint8_t* Map(const char* path, const char* directory, int64_t requestedSize);
  // 0 when the whole view is on disk; 999 without a file or when the
  // platform could not make the flush durable.
  int32_t Flush();
  // Flushes, then unmaps and closes: nonzero on success, 0 when the flush
  // failed (view and file are then left as they were) or nothing is mapped.
  int Unmap();

  uint8_t* ViewAddress() const { return view_; }
  int64_t ViewSize() const { return viewSize_; }
  int64_t FileSize() const { return fileSize_; }
  bool IsNew() const { return isNew_; }

 private:
  int64_t viewSize_ = 0;
  int64_t fileSize_ = 0;
  uint8_t* view_ = nullptr;
  bool isNew_ = false;
  plat::MappedFile file_;
};

}  // namespace vostrel
