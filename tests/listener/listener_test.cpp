// The accept loop's steps: slot test, timing counters, slot choice and the
// heavy-load path with real worker threads.
#include "server/listener/Listener.h"

#include <atomic>
#include <string>
#include <vector>

#include "listener_fixture.h"
#include "platform/threads/fake_clock.h"

namespace {

using vostrel::DispatchConnection;
using vostrel::IsSlotFree;
using vostrel::ListenerCounters;
using vostrel::RecordAccept;
using vostrel::SocketRing;
using vostrel::WorkerThreads;

// Workers that stay busy until released, and record the entry they were given.
plat::Event* gRelease = nullptr;
std::atomic<void*> gLastArgument{nullptr};

uint32_t BusyWorker(void* arg) {
  gLastArgument = arg;
  gRelease->Wait(60000);
  return 0;
}

uint32_t QuickWorker(void* arg) {
  gLastArgument = arg;
  return 0;
}

uint32_t ExitingWorker(void*) { plat::ExitThread(7); }

void WaitUntilEnded(const plat::Thread& t) {
  while (t.ExitCode() == plat::kStillActive) plat::Sleep(1);
}

TEST(IsSlotFreeTest, NullRunningAndFinishedThreads) {
  plat::Event release;
  gRelease = &release;
  plat::Thread none;
  EXPECT_TRUE(IsSlotFree(none));

  plat::Thread busy = plat::Thread::Start(BusyWorker, nullptr);
  ASSERT_TRUE(busy.IsValid());
  EXPECT_FALSE(IsSlotFree(busy));
  EXPECT_TRUE(busy.IsValid());
  release.Set();
  busy.Join();
  EXPECT_TRUE(IsSlotFree(busy));
  EXPECT_FALSE(busy.IsValid()) << "a finished worker's handle is closed";

  plat::Thread exited = plat::Thread::Start(ExitingWorker, nullptr);
  WaitUntilEnded(exited);
  EXPECT_TRUE(IsSlotFree(exited)) << "any exit code but 259 means ended";
  EXPECT_FALSE(exited.IsValid());
  gRelease = nullptr;
}

TEST(RecordAcceptTest, FirstConnectionAverageIsOneMillisecond) {
  ListenerCounters c;
  EXPECT_FALSE(RecordAccept(c, 5000));
  EXPECT_EQ(c.Accepted, 1u);
  EXPECT_DOUBLE_EQ(c.AverageMs, 1.0);
  EXPECT_EQ(c.PreviousTick, 5000u);
  EXPECT_FALSE(RecordAccept(c, 5101));
  EXPECT_DOUBLE_EQ(c.AverageMs, (1.0 + 101) / 2) << "the first gap counts as 1 ms";
}

TEST(RecordAcceptTest, EveryTwoHundredthConnectionIsDueForStatus) {
  ListenerCounters c;
  std::vector<uint32_t> due;
  for (uint32_t i = 1; i <= 600; ++i) {
    if (RecordAccept(c, 1000 + i * 10)) due.push_back(c.Accepted);
  }
  EXPECT_EQ(due, (std::vector<uint32_t>{200, 400, 600}));
  EXPECT_NEAR(c.AverageMs, (1.0 + 599 * 10.0) / 600, 1e-9);
}

TEST(RecordAcceptTest, SameOrEarlierTickSkipsTimingAndStatus) {
  ListenerCounters c;
  for (uint32_t i = 1; i < 200; ++i) RecordAccept(c, 1000 + i);
  const double average = c.AverageMs;
  // The 200th arrives in the same tick as the 199th: no STATUS line.
  EXPECT_FALSE(RecordAccept(c, c.PreviousTick));
  EXPECT_EQ(c.Accepted, 200u);
  EXPECT_DOUBLE_EQ(c.AverageMs, average);
  // A wrapped counter freezes the figures until it passes the stored tick.
  EXPECT_FALSE(RecordAccept(c, 3));
  EXPECT_DOUBLE_EQ(c.AverageMs, average);
  EXPECT_EQ(c.PreviousTick, 1199u);
}

class DispatchTest : public ListenerMachine {
 protected:
  void SetUp() override {
    ListenerMachine::SetUp();
    gRelease = &release_;
    vostrel::ClearListenerTables();
  }
  void TearDown() override {
    release_.Set();
    for (int slot = 0; slot < vostrel::kWorkerSlots; ++slot) {
      if (WorkerThreads[slot].IsValid()) WorkerThreads[slot].Join();
    }
    vostrel::ClearListenerTables();
    gRelease = nullptr;
    ListenerMachine::TearDown();
  }
  void Occupy(std::initializer_list<int> slots) {
    for (int slot : slots) WorkerThreads[slot] = plat::Thread::Start(BusyWorker, nullptr);
  }
  plat::Event release_;
  plat::FakeClock clock_;  // the heavy-load pause passes at once
};

TEST_F(DispatchTest, SlotIsRingIndexModTenThenUpwards) {
  ListenerCounters c;
  EXPECT_EQ(DispatchConnection(10, c, QuickWorker), 0);
  Occupy({3, 4});
  EXPECT_EQ(DispatchConnection(13, c, BusyWorker), 5);
  WaitUntilEnded(WorkerThreads[0]);
  EXPECT_EQ(DispatchConnection(90, c, QuickWorker), 0) << "an ended worker's slot is reused";
  EXPECT_EQ(c.HeavyLoads, 0);
}

TEST_F(DispatchTest, WorkerGetsTheAddressOfItsRingEntry) {
  ListenerCounters c;
  SocketRing[27] = 4242;
  ASSERT_EQ(DispatchConnection(27, c, QuickWorker), 7);
  WorkerThreads[7].Join();
  EXPECT_EQ(gLastArgument.load(), static_cast<void*>(&SocketRing[27]));
}

// Slots 7 to 9 busy, index ending in 7: no wrap to the free low slots, the
// heavy-load path serves it in slot 5.
TEST_F(DispatchTest, HeavyLoadRetriesSlotFiveOnly) {
  ListenerCounters c;
  Occupy({7, 8, 9});
  const uint64_t slept = clock_.SleptMs();
  EXPECT_EQ(DispatchConnection(37, c, BusyWorker), 5);
  EXPECT_EQ(c.HeavyLoads, 1);
  EXPECT_GE(clock_.SleptMs() - slept, vostrel::kHeavyLoadPauseMs);
  EXPECT_FALSE(WorkerThreads[0].IsValid());
  EXPECT_NE(ReadLog().find("Heavy Server Load Warning!"), std::string::npos);
}

TEST_F(DispatchTest, ConnectionWithNoSlotEvenAfterRetryIsClosed) {
  ListenerCounters c;
  Occupy({5, 8, 9});
  SocketPair pair = MakeSocketPair();
  ASSERT_NE(pair.server, plat::net::kInvalidSocket);
  SocketRing[18] = pair.server;
  EXPECT_EQ(DispatchConnection(18, c, BusyWorker), -1);
  EXPECT_EQ(c.HeavyLoads, 1);
  EXPECT_EQ(plat::net::CloseSocket(pair.server), plat::net::kSocketError) << "already closed";
  char buf[16];
  EXPECT_EQ(plat::net::Recv(pair.client, buf, sizeof buf, 0), 0)
      << "the client sees its connection closed";
  plat::net::CloseSocket(pair.client);
}

}  // namespace
