// The journal store engine: insert-or-replace and lookup of records by key
// through the slot chains of the mapped store file.
#include "server/store/TAsDB.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <string>

#include "platform/files/files.h"
#include "platform/threads/threads.h"
#include "server/store/StoreFormat.h"
#include "server/store/TDataSwapper3.h"
#include "server/store/TSharedMemory.h"

namespace vostrel {

static_assert(std::endian::native == std::endian::little, "the store file is little-endian");

namespace {

// Schema block contents: a field-definition table nothing interprets.
constexpr int32_t SchemaDefinitionCount = 2;
constexpr int32_t SchemaDefinitionSize = 56;
constexpr int32_t SchemaNameSize = 44;
struct SchemaDefinition {
  int32_t width;
  const char* name;
  int32_t kind;
  int32_t flag;
};
constexpr SchemaDefinition SchemaDefinitions[SchemaDefinitionCount] = {
    {4, "ManufacturerIndex", 2, 1},
    {20, "ManufacturerName", 1, 0},
};

// Words of the mapping that steer a search (slots, Next, Key) are read and
// written whole, so a reader beside the writer sees the old or the new value.
int32_t LoadWord(const uint8_t* view, int64_t offset) {
  auto* word = reinterpret_cast<int32_t*>(const_cast<uint8_t*>(view + offset));
  return std::atomic_ref<int32_t>(*word).load(std::memory_order_acquire);
}

void StoreWord(uint8_t* view, int64_t offset, int32_t value) {
  auto* word = reinterpret_cast<int32_t*>(view + offset);
  std::atomic_ref<int32_t>(*word).store(value, std::memory_order_release);
}

// Record bytes cross between the mapping and a caller's buffer word by word,
// each word whole: a read beside a write of the same record may mix old and
// new words (a torn read) but is never a data race.
void CopyFromView(void* out, const uint8_t* view, int64_t offset, int32_t size) {
  auto* dest = static_cast<unsigned char*>(out);
  for (int32_t i = 0; i < size; i += 4) {
    int32_t word = LoadWord(view, offset + i);
    std::memcpy(dest + i, &word, 4);
  }
}

void CopyToView(uint8_t* view, int64_t offset, const void* in, int32_t size) {
  const auto* src = static_cast<const unsigned char*>(in);
  for (int32_t i = 0; i < size; i += 4) {
    int32_t word;
    std::memcpy(&word, src + i, 4);
    auto* target = reinterpret_cast<int32_t*>(view + offset + i);
    std::atomic_ref<int32_t>(*target).store(word, std::memory_order_relaxed);
  }
}

TAsDBResult MakeResult(int32_t code) {
  TAsDBResult result;
  std::memset(&result, 0, sizeof result);
  result.Code = code;
  return result;
}

[[noreturn]] void DamagedStore() { plat::ExitProcess(DamagedStoreExitCode); }

bool IsStoredKey(int32_t key) { return key >= MinKey && key <= MaxKey; }
bool IsIndexNumber(int32_t indexNumber) { return indexNumber >= 1 && indexNumber <= IndexCount; }

}  // namespace

TAsDB::TAsDB() {
  std::memset(&lastResult_, 0, sizeof lastResult_);
  std::memset(schema_, 0, sizeof schema_);
  std::memset(options_, 0, sizeof options_);
}

TAsDB::~TAsDB() {
  // Waits for any operation still in flight; no flush (Close comes first).
  barrier_.fetch_add(1);  // stays raised: the object is going away
  std::unique_lock<std::shared_mutex> exclusive(guard_);
  open_ = false;
  view_ = nullptr;
  swapper_.reset();
  shared_.reset();
}

// Raises the barrier, waits for the operations in flight and for any other
// Open or Close, then lowers it again (on return the caller holds the guard
// alone).
void TAsDB::LockExclusive(std::unique_lock<std::shared_mutex>& exclusive) {
  barrier_.fetch_add(1);
  exclusive.lock();
  barrier_.fetch_sub(1);
}

void TAsDB::SetDefaultOptions() {
  if (options_[0] != 0) return;
  options_[0] = options_[1] = options_[2] = 1;
  options_[4] = options_[5] = 0;
  options_[8] = 1;
}

void TAsDB::SetDefaultSchema() {
  int32_t count;
  std::memcpy(&count, schema_, sizeof count);
  if (count != 0) return;
  std::memset(schema_, 0, sizeof schema_);
  int32_t definitions = SchemaDefinitionCount;
  std::memcpy(schema_, &definitions, sizeof definitions);
  for (int32_t i = 0; i < SchemaDefinitionCount; ++i) {
    unsigned char* at = schema_ + 4 + SchemaDefinitionSize * i;
    const SchemaDefinition& d = SchemaDefinitions[i];
    std::memcpy(at, &d.width, 4);
    std::strncpy(reinterpret_cast<char*>(at + 4), d.name, SchemaNameSize - 1);
    std::memcpy(at + 48, &d.kind, 4);
    std::memcpy(at + 52, &d.flag, 4);
  }
}

TAsDBResult TAsDB::Open(const char* path, const char* directory, int /*mode*/) {
  std::unique_lock<std::shared_mutex> exclusive(guard_, std::defer_lock);
  LockExclusive(exclusive);
  // A store that is open stays as it is: Open is meant once per store.
  if (open_ || path == nullptr || *path == '\0') return MakeResult(ResultNotDone);

  if (directory != nullptr && *directory != '\0') {
    plat::MakeDirectory(directory);  // usually exists already
    plat::FileStatus status;
    if (!plat::GetFileStatus(directory, &status) || !status.isDirectory) {
      lastResult_ = MakeResult(ResultNotDone);
      return lastResult_;
    }
  }
  // A swapper maps one file once; a reopen gets a fresh one.
  swapper_ = std::make_unique<TDataSwapper3>();
  if (!shared_) shared_ = std::make_unique<TSharedMemory>();

  SetDefaultOptions();
  SetDefaultSchema();
  lastResult_ = swapper_->MapStore(path, directory, schema_, options_);
  if (lastResult_.Code != ResultDone) return lastResult_;

  view_ = swapper_->ViewAddress();
  mappedSize_ = swapper_->MappedSize();
  CutDanglingLinks();
  if (shared_->Attach(SharedAreaSize, view_) != nullptr) CopyToShared();
  // The header (and any repair) on disk before the first record operation.
  swapper_->Flush();
  open_ = true;
  return lastResult_;
}

void TAsDB::CopyToShared() {
  if (shared_->Size() < HeaderSize || mappedSize_ < HeaderSize) return;
  std::memcpy(shared_->Address(), view_, HeaderSize);
}

// An append killed before its IndexNumber was written leaves its Key alone in
// the last counted record; the engine never writes IndexNumber 0, so that
// record is taken back. An insert killed between its link (or its slot) and
// its record leaves a link to a record that is not counted; such links are
// cut, so the store reopens with every chain inside the count.
void TAsDB::CutDanglingLinks() {
  int32_t count = swapper_->RecordCount();
  if (count > 0) {
    int64_t last = RecordsOffset + int64_t{count - 1} * RecordSize;
    if (LoadWord(view_, last + OffsetOfIndexNumber) == 0) {
      StoreWord(view_, last + OffsetOfKey, 0);
      swapper_->SetRecordCount(--count);
    }
  }
  const int64_t appendAt = RecordsOffset + int64_t{count} * RecordSize;
  for (int64_t at = IndexAreaOffset; at + 4 <= IndexAreaEnd; at += 4) {
    int32_t v = LoadWord(view_, at);
    if (v >= appendAt && IsRecordStart(v)) StoreWord(view_, at, EmptySlot);
  }
  for (int64_t at = RecordsOffset; at < appendAt; at += RecordSize) {
    int32_t next = LoadWord(view_, at + OffsetOfNext);
    if (next >= appendAt && IsRecordStart(next)) StoreWord(view_, at + OffsetOfNext, 0);
  }
}

int32_t TAsDB::RecordCount() const {
  std::shared_lock<std::shared_mutex> shared(guard_);
  return open_ ? swapper_->RecordCount() : 0;
}

int64_t TAsDB::SlotOffset(int32_t key, int32_t indexNumber) {
  if (!IsIndexNumber(indexNumber)) return NoSlot;
  int64_t q = 0;
  if (key != 0) q = static_cast<int64_t>(static_cast<double>(key) / KeyScale * IndexRegionSize);
  int64_t p = q + int64_t{indexNumber - 1} * IndexRegionSize;
  while (p % 4 != 0) ++p;
  // The top keys of index 4 would round past the index area into the shared
  // area; they share the last slot instead.
  constexpr int64_t LastSlot = (IndexAreaEnd - IndexAreaOffset - 4) / 4 * 4;
  return std::min(p, LastSlot);
}

bool TAsDB::IsRecordStart(int64_t offset) const {
  return offset >= RecordsOffset && (offset - RecordsOffset) % RecordSize == 0 &&
         offset + RecordSize <= mappedSize_;
}

int64_t TAsDB::ReadSlot(int64_t p) const {
  int32_t v = LoadWord(view_, IndexAreaOffset + p);
  if (v == EmptySlot || v == 0) return -1;
  if (!IsRecordStart(v)) DamagedStore();
  return v;
}

void TAsDB::SetSlot(int64_t p, int64_t recordOffset) {
  StoreWord(view_, IndexAreaOffset + p, static_cast<int32_t>(recordOffset));
}

// Walks the chain comparing Key in place; nothing is copied.
TAsDB::KeySearch TAsDB::FindKey(int64_t p, int32_t key) const {
  int64_t current = ReadSlot(p);
  if (current < 0) return {-1, -1, false};
  const int64_t capacity = (mappedSize_ - RecordsOffset) / RecordSize;
  for (int64_t visited = 1;; ++visited) {
    if (LoadWord(view_, current + OffsetOfKey) == key) return {current, -1, true};
    int32_t next = LoadWord(view_, current + OffsetOfNext);
    if (next == 0) return {-1, current, false};
    // A link into nowhere, or a chain longer than the mapping can hold (a
    // loop), is a damaged index like a bad slot.
    if (!IsRecordStart(next) || visited >= capacity) DamagedStore();
    current = next;
  }
}

TAsDBResult TAsDB::ReadRecords(void* buffer, int32_t firstKey, int32_t lastKey,
                               int32_t indexNumber) {
  if (buffer == nullptr) return MakeResult(ResultNotDone);
  std::memset(buffer, 0, RecordSize);
  if (barrier_.load() != 0) return MakeResult(ResultNotDone);
  std::shared_lock<std::shared_mutex> shared(guard_);
  if (!open_) return MakeResult(ResultNotDone);
  if (!IsIndexNumber(indexNumber)) return MakeResult(ResultDone);

  // The first key is always looked up, even above the last one. Keys outside
  // the stored range read as not stored; the buffer keeps the outcome of the
  // last key, so a range ending outside the keys ends with zeros.
  const int64_t last = std::max<int64_t>(firstKey, lastKey);
  if (last > MaxKey || last < MinKey) return MakeResult(ResultDone);
  auto* out = static_cast<unsigned char*>(buffer);
  for (int64_t key = std::max<int64_t>(firstKey, MinKey); key <= last; ++key) {
    int64_t p = SlotOffset(static_cast<int32_t>(key), indexNumber);
    KeySearch search = FindKey(p, static_cast<int32_t>(key));
    if (search.found) {
      CopyFromView(out, view_, search.recordOffset, RecordSize);
      int32_t stored;
      std::memcpy(&stored, out + OffsetOfIndexNumber, sizeof stored);
      if (stored == 0) std::memset(out, 0, RecordSize);
    } else if (search.chainEnd < 0) {
      std::memset(out, 0, RecordSize);
    }
  }
  return MakeResult(ResultDone);
}

TAsDBResult TAsDB::WriteRecord(TAsDBRecord record, int32_t /*firstKey*/, int32_t /*lastKey*/,
                               int32_t indexNumber) {
  if (barrier_.load() != 0) return MakeResult(ResultNotDone);
  std::shared_lock<std::shared_mutex> shared(guard_);
  std::lock_guard<std::mutex> writing(writeLock_);
  if (!open_) return MakeResult(ResultNotDone);
  if (!IsIndexNumber(record.IndexNumber)) return MakeResult(ResultBadIndexNumber);
  if (!IsStoredKey(record.Key) || !IsIndexNumber(indexNumber)) return MakeResult(ResultNotDone);

  int64_t p = SlotOffset(record.Key, indexNumber);
  KeySearch search = FindKey(p, record.Key);
  if (search.found) return MakeResult(PutRecordAt(search.recordOffset, record, p));
  // A full records area refuses the write before anything is linked; the
  // next open grows the file.
  if (!HasRoomForAppend()) return MakeResult(ResultNotDone);
  if (search.chainEnd >= 0) {
    int32_t code = LinkToNew(search.chainEnd);
    if (code != ResultDone) return MakeResult(code);
  }
  return MakeResult(PutRecordAt(-1, record, p));
}

bool TAsDB::HasRoomForAppend() const {
  int64_t appendAt = RecordsOffset + int64_t{swapper_->RecordCount()} * RecordSize;
  return appendAt + RecordSize <= mappedSize_;
}

// recordOffset < 0 appends. The payload goes first, then Key, then
// IndexNumber: a reader (or a reopen after the process died here) that finds
// the Key finds the whole payload, and an appended record without its
// IndexNumber reads as not stored.
int32_t TAsDB::PutRecordAt(int64_t recordOffset, const TAsDBRecord& record, int64_t p) {
  if (swapper_ == nullptr) return ResultNotDone;
  int32_t next;
  if (recordOffset < 0) {
    int32_t n = swapper_->RecordCount();
    recordOffset = RecordsOffset + int64_t{n} * RecordSize;
    if (recordOffset + RecordSize > mappedSize_) return ResultNotDone;
    swapper_->SetRecordCount(n + 1);
    if (ReadSlot(p) < 0) SetSlot(p, recordOffset);
    next = 0;  // an appended record ends its chain
  } else {
    next = LoadWord(view_, recordOffset + OffsetOfNext);  // the engine owns Next
  }
  CopyToView(view_, recordOffset + OffsetOfPayload, record.Payload, RecordPayloadSize);
  StoreWord(view_, recordOffset + OffsetOfNext, next);
  StoreWord(view_, recordOffset + OffsetOfKey, record.Key);
  StoreWord(view_, recordOffset + OffsetOfIndexNumber, record.IndexNumber);
  return swapper_->Flush();
}

int32_t TAsDB::LinkToNew(int64_t chainEnd) {
  const int64_t newPosition = RecordsOffset + int64_t{swapper_->RecordCount()} * RecordSize;
  if (chainEnd == newPosition) return ResultSelfLink;
  if (swapper_->Flush() != ResultDone) return ResultNotDone;
  StoreWord(view_, chainEnd + OffsetOfNext, static_cast<int32_t>(newPosition));
  if (swapper_->Flush() != ResultDone) {
    // Not known to be on disk: take the link back rather than leave it
    // pointing at a record that will not be written.
    StoreWord(view_, chainEnd + OffsetOfNext, 0);
    return ResultNotDone;
  }
  return ResultDone;
}

int TAsDB::Close(int /*value*/) {
  std::unique_lock<std::shared_mutex> exclusive(guard_, std::defer_lock);
  LockExclusive(exclusive);
  if (!open_) return 0;
  open_ = false;
  view_ = nullptr;
  mappedSize_ = 0;
  return swapper_->Unmap();
}

}  // namespace vostrel
