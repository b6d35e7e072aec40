// The recursive owner-tracked mutex, named mutexes and events.
#include <gtest/gtest.h>

#include <memory>

#include "platform/locks/locks.h"
#include "platform/threads/threads.h"

namespace {

// What another thread sees when it tries the mutex with a time-out, and
// whether its own release (it holds nothing) was refused.
struct Attempt {
  plat::Mutex* mutex = nullptr;
  uint32_t waitMs = 0;
  bool releaseFirst = false;
  bool releaseRefused = false;
  plat::WaitResult result = plat::WaitResult::Acquired;
};

uint32_t TryFromOtherThread(void* arg) {
  auto* a = static_cast<Attempt*>(arg);
  if (a->releaseFirst) a->releaseRefused = !a->mutex->Release();
  a->result = a->mutex->Wait(a->waitMs);
  if (a->result == plat::WaitResult::Acquired) a->mutex->Release();
  return 0;
}

plat::WaitResult OtherThreadWait(plat::Mutex& m, uint32_t ms,
                                 bool releaseFirst = false,
                                 bool* releaseRefused = nullptr) {
  Attempt a;
  a.mutex = &m;
  a.waitMs = ms;
  a.releaseFirst = releaseFirst;
  plat::Thread t = plat::Thread::Start(&TryFromOtherThread, &a);
  t.Join();
  if (releaseRefused) *releaseRefused = a.releaseRefused;
  return a.result;
}

TEST(MutexTest, HeldMutexTimesOutInAnotherThread) {
  plat::Mutex m;
  ASSERT_EQ(m.Wait(1000), plat::WaitResult::Acquired);
  EXPECT_TRUE(m.HeldByCaller());
  EXPECT_EQ(OtherThreadWait(m, 50), plat::WaitResult::TimedOut);
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(OtherThreadWait(m, 50), plat::WaitResult::Acquired);
}

TEST(MutexTest, OwnerTakesItTwiceAndNeedsTwoReleases) {
  plat::Mutex m;
  ASSERT_EQ(m.Wait(0), plat::WaitResult::Acquired);
  ASSERT_EQ(m.Wait(0), plat::WaitResult::Acquired);
  EXPECT_TRUE(m.Release());
  EXPECT_TRUE(m.HeldByCaller());
  EXPECT_EQ(OtherThreadWait(m, 30), plat::WaitResult::TimedOut);
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.HeldByCaller());
  EXPECT_FALSE(m.Release());  // nothing left to release
  EXPECT_EQ(OtherThreadWait(m, 30), plat::WaitResult::Acquired);
}

TEST(MutexTest, ReleaseByNonOwnerChangesNothing) {
  plat::Mutex m;
  ASSERT_EQ(m.Wait(0), plat::WaitResult::Acquired);
  bool refused = false;
  // The stranger's release must neither free the mutex for it nor for others.
  EXPECT_EQ(OtherThreadWait(m, 30, true, &refused), plat::WaitResult::TimedOut);
  EXPECT_TRUE(refused);
  EXPECT_TRUE(m.HeldByCaller());
  EXPECT_EQ(OtherThreadWait(m, 30), plat::WaitResult::TimedOut);
  EXPECT_TRUE(m.Release());
  // Free mutex: a release by someone who never took it is refused as well.
  EXPECT_EQ(OtherThreadWait(m, 30, true, &refused), plat::WaitResult::Acquired);
  EXPECT_TRUE(refused);
}

TEST(MutexTest, WaiterGetsTheMutexWhenTheOwnerReleasesIt) {
  plat::Mutex m;
  ASSERT_EQ(m.Wait(0), plat::WaitResult::Acquired);
  Attempt a;
  a.mutex = &m;
  a.waitMs = 10000;
  plat::Thread t = plat::Thread::Start(&TryFromOtherThread, &a);
  plat::Sleep(30);
  EXPECT_EQ(t.ExitCode(), plat::kStillActive);  // still waiting
  EXPECT_TRUE(m.Release());
  t.Join();
  EXPECT_EQ(a.result, plat::WaitResult::Acquired);
}

TEST(NamedMutexTest, SameNameGivesTheSameMutex) {
  auto a = plat::CreateNamedMutex("qlpyhpidZrumo360xRzgjtmBbv");
  auto b = plat::CreateNamedMutex("qlpyhpidZrumo360xRzgjtmBbv");
  auto other = plat::CreateNamedMutex("ltorvaneSimpleWebServerx100xUniqueKey");
  ASSERT_TRUE(a && b && other);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_NE(a.get(), other.get());
  ASSERT_EQ(a->Wait(0), plat::WaitResult::Acquired);
  EXPECT_TRUE(b->HeldByCaller());
  EXPECT_EQ(OtherThreadWait(*b, 30), plat::WaitResult::TimedOut);
  EXPECT_EQ(OtherThreadWait(*other, 30), plat::WaitResult::Acquired);
  EXPECT_TRUE(b->Release());
}

TEST(NamedMutexTest, EmptyNameGivesANewMutexEachTime) {
  auto a = plat::CreateNamedMutex("");
  auto b = plat::CreateNamedMutex("");
  ASSERT_TRUE(a && b);
  EXPECT_NE(a.get(), b.get());
}

uint32_t SetAfterPause(void* arg) {
  plat::Sleep(30);
  static_cast<plat::Event*>(arg)->Set();
  return 0;
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
  plat::Event e(true, false);
  EXPECT_FALSE(e.Wait(20));  // times out while not signalled
  EXPECT_TRUE(e.Set());
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Reset());
  EXPECT_FALSE(e.Wait(10));
}

TEST(EventTest, WaitReturnsWhenAnotherThreadSets) {
  plat::Event e;
  plat::Thread t = plat::Thread::Start(&SetAfterPause, &e);
  EXPECT_TRUE(e.Wait(10000));
  t.Join();
}

TEST(EventTest, AutoResetReleasesOneWaitOnly) {
  plat::Event e(false, true);  // starts signalled
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(10));
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(0));
}

}  // namespace
