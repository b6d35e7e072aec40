// The journal store engine: a keyed record store over one memory-mapped file.
// (Public interface fixed here; the store's own parts fill in the rest.)
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>

namespace vostrel {

constexpr int32_t RecordSize = 10256;
constexpr int32_t RecordPayloadSize = RecordSize - 12;

struct TAsDBResult {
  int32_t Code;
  char Reserved[256];
};
static_assert(sizeof(TAsDBResult) == 260);

struct TAsDBRecord {
  int32_t Next;
  int32_t Key;
  int32_t IndexNumber;
  unsigned char Payload[RecordPayloadSize];
};
static_assert(sizeof(TAsDBRecord) == RecordSize);

class TDataSwapper3;
class TSharedMemory;

class TAsDB {
 public:
  TAsDB();
  ~TAsDB();
  TAsDB(const TAsDB&) = delete;
  TAsDB& operator=(const TAsDB&) = delete;

  TAsDBResult Open(const char* path, const char* directory, int mode);
  TAsDBResult ReadRecords(void* buffer, int32_t firstKey, int32_t lastKey, int32_t indexNumber);
  TAsDBResult WriteRecord(TAsDBRecord record, int32_t firstKey, int32_t lastKey, int32_t indexNumber);
  int Close(int value);

  // Record count of the open store (0 when not open); for tests and tools.
  int32_t RecordCount() const;

 private:
  // Outcome of a key search in one slot chain (file offsets, -1 for none).
  struct KeySearch {
    int64_t recordOffset;
    int64_t chainEnd;
    bool found;
  };

  void LockExclusive(std::unique_lock<std::shared_mutex>& exclusive);
  void SetDefaultOptions();
  void SetDefaultSchema();
  static int64_t SlotOffset(int32_t key, int32_t indexNumber);
  bool IsRecordStart(int64_t offset) const;
  int64_t ReadSlot(int64_t p) const;
  void SetSlot(int64_t p, int64_t recordOffset);
  KeySearch FindKey(int64_t p, int32_t key) const;
  bool HasRoomForAppend() const;
  int32_t PutRecordAt(int64_t recordOffset, const TAsDBRecord& record, int64_t p);
  int32_t LinkToNew(int64_t chainEnd);
  void CutDanglingLinks();
  void CopyToShared();

  std::unique_ptr<TDataSwapper3> swapper_;
  std::unique_ptr<TSharedMemory> shared_;
  TAsDBResult lastResult_;
  unsigned char schema_[3584];
  int32_t options_[9];

  // The mapping as the record operations see it while the store is open.
  uint8_t* view_ = nullptr;
  int64_t mappedSize_ = 0;
  bool open_ = false;
  // Record operations hold it shared (reads run beside the one writer);
  // Open, Close and destruction hold it exclusively, so they wait for every
  // operation in flight.
  mutable std::shared_mutex guard_;
  // Open, Close or destruction waiting for the guard: operations that start
  // meanwhile find the store closed instead of joining the ones in flight, so
  // a stream of readers cannot starve the wait.
  std::atomic<int> barrier_{0};
  // Writes never overlap each other, whoever calls.
  std::mutex writeLock_;
};

}  // namespace vostrel
