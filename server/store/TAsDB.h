// The journal store engine: a keyed record store over one memory-mapped file.
// (Public interface fixed here; the store's own parts fill in the rest.)
#pragma once
#include <cstdint>

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

  // (private members: see the store's implementation)
};

}  // namespace vostrel
