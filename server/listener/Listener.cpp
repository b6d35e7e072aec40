// The accept loop's tables and its per-connection steps: timing, slot choice,
// the heavy-load path.
#include "server/listener/Listener.h"

#include "server/listener/ServerLog.h"

namespace vostrel {

plat::net::Socket SocketRing[kSocketRingSize] = {};
plat::Thread* const WorkerThreads = new plat::Thread[kWorkerSlots];

void ClearListenerTables() {
  for (auto& entry : SocketRing) entry = 0;
  for (int slot = 0; slot < kWorkerSlots; ++slot) WorkerThreads[slot].Close();
}

bool IsSlotFree(plat::Thread& handle) {
  try {
    if (!handle.IsValid()) return true;
    if (handle.ExitCode() == plat::kStillActive) return false;
    handle.Close();
    return true;
  } catch (...) {
    return true;
  }
}

bool RecordAccept(ListenerCounters& counters, uint32_t now) {
  counters.Accepted += 1;
  // A tick equal to or below the previous one (same tick, or a wrapped
  // counter) leaves the timing and the STATUS check alone.
  if (now <= counters.PreviousTick) return false;
  const uint32_t gap = now - counters.PreviousTick;
  if (counters.Accepted == 1) {
    counters.TotalMs = 1.0;
  } else {
    counters.TotalMs += gap;
  }
  counters.AverageMs = counters.TotalMs / counters.Accepted;
  counters.PreviousTick = now;
  return counters.Accepted % kStatusLineEvery == 0;
}

namespace {

// A worker that could not be started would leave its socket open for ever.
bool StartWorker(int slot, int ringIndex, plat::ThreadProc worker) {
  WorkerThreads[slot] = plat::Thread::Start(worker, &SocketRing[ringIndex]);
  return WorkerThreads[slot].IsValid();
}

void CloseUnserved(int ringIndex) {
  const plat::net::Socket s = SocketRing[ringIndex];
  if (s != 0 && s != plat::net::kInvalidSocket) plat::net::CloseSocket(s);
}

}  // namespace

int DispatchConnection(int ringIndex, ListenerCounters& counters, plat::ThreadProc worker) {
  // Start at index mod 10 and go up, never wrapping to slot 0.
  for (int slot = ringIndex % kWorkerSlots; slot < kWorkerSlots; ++slot) {
    if (IsSlotFree(WorkerThreads[slot])) {
      if (StartWorker(slot, ringIndex, worker)) return slot;
      CloseUnserved(ringIndex);
      return -1;
    }
  }
  plat::Sleep(kHeavyLoadPauseMs);
  ServerLog(kHeavyLoadText, false);
  counters.HeavyLoads += 1;
  if (IsSlotFree(WorkerThreads[kHeavyLoadSlot]) && StartWorker(kHeavyLoadSlot, ringIndex, worker)) {
    return kHeavyLoadSlot;
  }
  // No slot for it even now: closed unanswered rather than left open.
  CloseUnserved(ringIndex);
  return -1;
}

}  // namespace vostrel
