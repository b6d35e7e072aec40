// The accept loop's tables and steps: the socket ring, the ten worker slots,
// the timing counters and the choice of a slot for each connection.
#pragma once
#include <cstdint>

#include "platform/sockets/sockets.h"
#include "platform/threads/threads.h"

namespace vostrel {

constexpr int kSocketRingSize = 100;
constexpr int kRingFirst = 10;  // entries 0 to 9 are never used
constexpr int kWorkerSlots = 10;
constexpr int kHeavyLoadSlot = 5;
constexpr int kPeekBufferSize = 10000;
constexpr int kPeerTextSize = 256;
constexpr uint32_t kPeerTextLimit = 16;
constexpr uint32_t kAcceptPauseMs = 75;
constexpr uint32_t kHeavyLoadPauseMs = 100;
// How long the statistics peek waits for a silent client before it counts
// the connection as carrying nothing.
constexpr uint32_t kStatsPeekTimeoutMs = 1000;
constexpr uint32_t kStatusLineEvery = 200;
constexpr int kCountedRequestMin = 4;  // a peek of more than 3 bytes counts

constexpr char kAccessedText[] = " accessed the following: ";
constexpr char kHeavyLoadText[] = "Heavy Server Load Warning!";
constexpr char kWebmainErrorText[] = "Server Error: webmain()";

extern plat::net::Socket SocketRing[kSocketRingSize];
// Heap-held so that no destructor runs at process end while workers live.
extern plat::Thread* const WorkerThreads;

struct ListenerCounters {
  uint32_t Accepted = 0;
  int32_t HeavyLoads = 0;
  uint32_t PreviousTick = 0;
  double TotalMs = 0;
  double AverageMs = 0;
};

// Resets the ring and drops every worker handle (start of webmain).
void ClearListenerTables();

// True when the slot can take a new worker; a finished thread's handle is
// closed on the way.
bool IsSlotFree(plat::Thread& handle);

// Counts one accepted connection and updates the average gap; true when this
// connection is due for a STATUS line.
bool RecordAccept(ListenerCounters& counters, uint32_t now);

// Starts worker(address of SocketRing[ringIndex]) in the slot the ring index
// picks, or through the heavy-load path; a connection no slot can take is
// closed. Returns the slot used, or -1.
int DispatchConnection(int ringIndex, ListenerCounters& counters, plat::ThreadProc worker);

}  // namespace vostrel
