// The 308-byte record of the status file: written by the server, read by the
// manager applet. Little-endian, no padding, one block at offset 0.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vostrel {

constexpr int kStatusRecordSize = 308;
constexpr int kStatusAddressSize = 16;
constexpr int kStatusLastRequestSize = 256;
constexpr char kStatusFileName[] = "\\system\\vostrelHttpStatus";

struct StatusRecord {
  uint32_t Responses;        // connections accepted since start
  int32_t HighLoads;         // heavy-load events since start
  uint32_t Minutes;          // minutes since start
  int32_t HeadRequests;
  int32_t GetRequests;
  int32_t PostRequests;
  int32_t PrematureCloses;   // never counted: always 0
  int32_t Reserved;          // always 0
  int32_t Port;
  char Address[kStatusAddressSize];
  char LastRequest[kStatusLastRequestSize];
};

static_assert(sizeof(StatusRecord) == kStatusRecordSize);
static_assert(offsetof(StatusRecord, Responses) == 0);
static_assert(offsetof(StatusRecord, HighLoads) == 4);
static_assert(offsetof(StatusRecord, Minutes) == 8);
static_assert(offsetof(StatusRecord, HeadRequests) == 12);
static_assert(offsetof(StatusRecord, GetRequests) == 16);
static_assert(offsetof(StatusRecord, PostRequests) == 20);
static_assert(offsetof(StatusRecord, PrematureCloses) == 24);
static_assert(offsetof(StatusRecord, Reserved) == 28);
static_assert(offsetof(StatusRecord, Port) == 32);
static_assert(offsetof(StatusRecord, Address) == 36);
static_assert(offsetof(StatusRecord, LastRequest) == 52);

}  // namespace vostrel
