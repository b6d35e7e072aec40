// Sizes the store mapping at open, writes the header blocks and counts the
// records; owns the mapped file.
#pragma once
#include <cstdint>

#include "server/store/TAsDB.h"
#include "server/store/TMemoryMappedFile.h"

namespace vostrel {

class TDataSwapper3 {
 public:
  TDataSwapper3() = default;
  ~TDataSwapper3() = default;  // the mapped-file object goes with it, unflushed
  TDataSwapper3(const TDataSwapper3&) = delete;
  TDataSwapper3& operator=(const TDataSwapper3&) = delete;

  // Code 0 with a view mapped, the header written and the records counted;
  // code 999 when the file or its mapping could not be made.
  TAsDBResult MapStore(const char* path, const char* directory, const void* schemaBlock,
                       const void* optionBlock);
  // Records before the first one whose Key and IndexNumber are both 0;
  // -1 without a view.
  int32_t CountRecords() const;
  // Zero bytes at the end of the file (0 when it cannot be read whole).
  int64_t CountTrailingZeros(const char* path) const;
  // The size a store of this size and tail is mapped at (never below one step).
  static int64_t ComputeMappedSize(bool exists, int64_t fileSize, int64_t trailingZeros);
  int32_t Flush() { return file_.Flush(); }
  int Unmap();

  uint8_t* ViewAddress() const { return view_; }
  int64_t MappedSize() const { return mappedSize_; }
  int32_t RecordCount() const { return recordCount_; }
  void SetRecordCount(int32_t count) { recordCount_ = count; }

 private:
  uint8_t* view_ = nullptr;
  int64_t mappedSize_ = 0;
  int32_t recordCount_ = 0;
  TAsDBResult result_{};
  TMemoryMappedFile file_;
};

}  // namespace vostrel
