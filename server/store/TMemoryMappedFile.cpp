// The store file opened (or created) and mapped into memory whole.
#include "server/store/TMemoryMappedFile.h"

#include <cstring>
#include <string>

#include "platform/files/files.h"
#include "server/store/StoreFormat.h"

namespace vostrel {

uint8_t* TMemoryMappedFile::Map(const char* path, const char* /*directory*/,
                                int64_t requestedSize) {
  if (path == nullptr || view_ != nullptr || file_.IsOpen()) return nullptr;
  const std::string filePath(path);
  plat::FileStatus status;
  bool exists = plat::GetFileStatus(filePath, &status);
  if (exists && status.isDirectory) return nullptr;
  int64_t size = exists ? status.size : 0;

  if (size == 0) {
    // An existing empty file is taken over and laid out like a new one.
    bool opened = exists ? file_.OpenExisting(filePath) : file_.Create(filePath);
    if (!opened) return nullptr;
    isNew_ = true;
  } else if (!file_.OpenExisting(filePath)) {
    return nullptr;
  }
  fileSize_ = requestedSize;
  if (file_.FileSize() < requestedSize && !file_.Grow(requestedSize)) {
    file_.Close();
    return nullptr;
  }
  uint8_t* view = file_.Map();
  if (view == nullptr) {
    file_.Close();
    return nullptr;
  }
  view_ = view;
  viewSize_ = file_.ViewSize();

  if (isNew_) {
    // The grown file is zero already; only the index area needs its empty
    // slots (0xFF in every byte).
    int64_t end = IndexAreaEnd < viewSize_ ? IndexAreaEnd : viewSize_;
    if (end > IndexAreaOffset)
      std::memset(view_ + IndexAreaOffset, 0xFF, static_cast<size_t>(end - IndexAreaOffset));
  }
  return view_;
}

int32_t TMemoryMappedFile::Flush() {
  if (!file_.IsOpen() || view_ == nullptr) return ResultNotDone;
  return file_.Flush() ? ResultDone : ResultNotDone;
}

int TMemoryMappedFile::Unmap() {
  if (view_ == nullptr || !file_.Flush()) return 0;
  file_.Unmap();
  view_ = nullptr;
  viewSize_ = 0;
  return file_.Close() ? 1 : 0;
}

}  // namespace vostrel
