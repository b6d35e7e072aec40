// Sizes the store mapping at open, writes the header blocks and counts the
// records.
#include "server/store/TDataSwapper3.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "server/store/StoreFormat.h"

namespace vostrel {

namespace {
constexpr size_t ReadChunkSize = 65535;

int32_t WordAt(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
}  // namespace

int64_t TDataSwapper3::ComputeMappedSize(bool exists, int64_t fileSize, int64_t trailingZeros) {
  if (!exists || fileSize < 2) return SizeStep;
  int64_t steps = (fileSize + 1) / SizeStep;
  if (trailingZeros < GrowthReserve) steps += 1;
  if (steps < 1) steps = 1;
  int64_t size = steps * SizeStep;
  return size > MaxMappedSize ? MaxMappedSize : size;
}

TAsDBResult TDataSwapper3::MapStore(const char* path, const char* directory,
                                    const void* schemaBlock, const void* optionBlock) {
  std::memset(&result_, 0, sizeof result_);
  if (path == nullptr || view_ != nullptr) {
    result_.Code = ResultNotDone;
    return result_;
  }
  plat::FileStatus status;
  bool exists = plat::GetFileStatus(path, &status) && !status.isDirectory;
  int64_t zeros = (exists && status.size >= 2) ? CountTrailingZeros(path) : 0;
  mappedSize_ = ComputeMappedSize(exists, status.size, zeros);

  view_ = file_.Map(path, directory, mappedSize_);
  if (view_ == nullptr || file_.ViewSize() < mappedSize_) {
    view_ = nullptr;
    mappedSize_ = 0;
    result_.Code = ResultNotDone;
    return result_;
  }
  std::memcpy(view_, schemaBlock, SchemaBlockSize);
  std::memcpy(view_ + SchemaBlockSize, optionBlock, OptionBlockSize);
  recordCount_ = CountRecords();
  return result_;
}

int32_t TDataSwapper3::CountRecords() const {
  if (view_ == nullptr) return -1;
  int32_t count = 0;
  for (int64_t at = RecordsOffset; at + RecordSize <= mappedSize_; at += RecordSize) {
    if (WordAt(view_ + at + OffsetOfKey) == 0 && WordAt(view_ + at + OffsetOfIndexNumber) == 0)
      break;
    ++count;
  }
  return count;
}

int64_t TDataSwapper3::CountTrailingZeros(const char* path) const {
  plat::FileStatus status;
  if (path == nullptr || !plat::GetFileStatus(path, &status) || status.isDirectory) return 0;
  plat::File file = plat::File::Open(path, "rb");
  if (!file.IsOpen()) return 0;
  // The run of zeros seen so far at the end of what has been read; the file
  // is read once, in chunks, without holding it in memory.
  std::vector<unsigned char> chunk(ReadChunkSize);
  int64_t run = 0;
  int64_t total = 0;
  for (;;) {
    size_t got = file.Read(chunk.data(), 1, chunk.size());
    if (got == 0) break;
    total += static_cast<int64_t>(got);
    size_t i = got;
    while (i > 0 && chunk[i - 1] == 0) --i;
    run = (i == 0) ? run + static_cast<int64_t>(got) : static_cast<int64_t>(got - i);
  }
  // A file that could not be read to its end has an unknown tail.
  return total < status.size ? 0 : run;
}

int TDataSwapper3::Unmap() {
  int result = file_.Unmap();
  if (result != 0) {
    view_ = nullptr;
  }
  return result;
}

}  // namespace vostrel
