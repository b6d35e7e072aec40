// Layout of the journal store file: region offsets, sizes and the slot rule's
// constants. Stored journals depend on every value here.
#pragma once
#include <cstdint>

#include "server/store/TAsDB.h"

namespace vostrel {

constexpr int32_t SchemaBlockSize = 3584;
constexpr int32_t OptionBlockSize = 36;
constexpr int32_t OptionWordCount = OptionBlockSize / 4;
constexpr int32_t HeaderSize = SchemaBlockSize + OptionBlockSize;  // 3620
constexpr int32_t IndexCount = 4;
constexpr int32_t IndexRegionSize = 999545;
constexpr int32_t IndexAreaOffset = HeaderSize;
constexpr int32_t IndexAreaEnd = IndexAreaOffset + IndexCount * IndexRegionSize;  // 4001800
constexpr int32_t SharedAreaOffset = 4001800;
constexpr int32_t SharedAreaSize = 100000;
constexpr int32_t SharedAreaReserved = 102400;
constexpr int32_t RecordsOffset = 4104200;
constexpr int32_t SizeStep = 5000000;
constexpr double KeyScale = 9999999.0;
constexpr int32_t MinKey = 0;
constexpr int32_t MaxKey = 9999998;

// A file with fewer trailing zero bytes than this gets one more step at open.
constexpr int32_t GrowthReserve = 100000;
// Record offsets are stored as int32, so the mapping never grows past this.
constexpr int64_t MaxMappedSize = (INT32_MAX / SizeStep) * int64_t{SizeStep};

// Slot values and record offsets of the format.
constexpr int32_t EmptySlot = -1;
constexpr int32_t NoSlot = -1;
constexpr int32_t OffsetOfNext = 0;
constexpr int32_t OffsetOfKey = 4;
constexpr int32_t OffsetOfIndexNumber = 8;
constexpr int32_t OffsetOfPayload = 12;

// Result codes of the result block.
constexpr int32_t ResultDone = 0;
constexpr int32_t ResultSelfLink = 6;
constexpr int32_t ResultBadIndexNumber = 7;
constexpr int32_t ResultNotDone = 999;

// Exit status of the process when the store's index or chains are damaged.
constexpr int DamagedStoreExitCode = 5;

static_assert(SharedAreaOffset == IndexAreaEnd);
static_assert(RecordsOffset == SharedAreaOffset + SharedAreaReserved);
static_assert(RecordsOffset % 4 == 0 && RecordSize % 4 == 0 && RecordPayloadSize % 4 == 0);

}  // namespace vostrel
