// Crash test: a child process saves records in a loop and is killed with
// SIGKILL at random moments; after each kill the store must reopen with every
// returned write intact and its chains consistent with the record count.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "store_fixture.h"

namespace storetest {
namespace {

using vostrel::TAsDB;
using vostrel::TAsDBRecord;

constexpr int kKills = 60;
constexpr int kMinKills = 50;

// One line of the child's progress: sent before a write and after it returned.
struct Progress {
  int32_t key;
  int32_t index;
  uint32_t seq;
  int32_t phase;  // Ready, Begin, Done or Refused
};
constexpr int32_t Ready = -1;
constexpr int32_t Begin = 0;
constexpr int32_t Done = 1;
constexpr int32_t Refused = 2;

void WriteAll(int fd, const void* p, size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    ssize_t w = ::write(fd, c, n);
    if (w <= 0) _exit(4);
    c += w;
    n -= static_cast<size_t>(w);
  }
}

// The child: journal pages (replaced most of the time), a shared chain of
// keys 11 to 50, and new keys over all four indexes (inserts, new slots and
// growth of the file across runs).
[[noreturn]] void ChildLoop(int fd, const std::string& path, const std::string& dir,
                            uint32_t firstSeq, uint32_t seed) {
  TAsDB db;
  if (db.Open(path.c_str(), dir.c_str(), 1).Code != 0) _exit(3);
  Progress ready{0, 0, firstSeq, Ready};
  WriteAll(fd, &ready, sizeof ready);
  std::mt19937 rng(seed);
  for (uint32_t seq = firstSeq;; ++seq) {
    uint32_t pick = rng() % 10;
    int32_t key, index = 1;
    if (pick < 5) {
      key = 1 + static_cast<int32_t>(rng() % 9);
    } else if (pick < 8) {
      key = 11 + static_cast<int32_t>(rng() % 40);
    } else {
      key = 100 + static_cast<int32_t>((seq * 7919u) % 9999000u);
      index = 1 + static_cast<int32_t>(rng() % 4);
    }
    Progress begin{key, index, seq, Begin};
    WriteAll(fd, &begin, sizeof begin);
    int32_t code = db.WriteRecord(MakeRecord(key, index, seq), key, key, index).Code;
    Progress end{key, index, seq, code == 0 ? Done : Refused};
    WriteAll(fd, &end, sizeof end);
  }
}

using Model = std::map<std::pair<int32_t, int32_t>, Bytes>;

class StoreCrash : public StoreMachine {
 protected:
  // Walks every chain of the file: each record reached once, all of them
  // below the count, together exactly the count.
  static void ExpectChainsMatchCount(const Bytes& file, int32_t count) {
    std::set<int64_t> seen;
    for (int64_t at = 3620; at + 4 <= 4001800; at += 4) {
      int32_t v = WordAt(file, at);
      if (v == -1 || v == 0) continue;
      std::set<int32_t> keys;
      for (int64_t r = v; r != 0; r = WordAt(file, r)) {
        ASSERT_GE(r, kRecords) << "slot " << at;
        ASSERT_EQ((r - kRecords) % kRecordSize, 0) << "slot " << at;
        ASSERT_LT((r - kRecords) / kRecordSize, count) << "slot " << at;
        ASSERT_TRUE(seen.insert(r).second) << "record reached twice: " << r;
        ASSERT_TRUE(keys.insert(WordAt(file, r + 4)).second) << "key twice in one chain";
      }
    }
    EXPECT_EQ(static_cast<int64_t>(seen.size()), count);
  }
};

TEST_F(StoreCrash, KilledWritersLeaveAConsistentStore) {
  const uint32_t seed =
      static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 rng(seed);
  Model stored;  // what each key must read back as (Body bytes)
  uint32_t nextSeq = 1;
  int kills = 0;
  int killsMidWrite = 0;
  int64_t doneWrites = 0;

  for (int run = 0; run < kKills; ++run) {
    SCOPED_TRACE(::testing::Message() << "run " << run << " seed " << seed);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      ChildLoop(fds[1], StorePath(), StoreDir(), nextSeq, seed + static_cast<uint32_t>(run));
    }
    close(fds[1]);
    // Most runs are killed in the write loop, some while the store opens.
    Progress p;
    bool duringOpen = run % 6 == 5;
    if (!duringOpen) {
      ASSERT_EQ(read(fds[0], &p, sizeof p), static_cast<ssize_t>(sizeof p))
          << "child did not open the store";
      ASSERT_EQ(p.phase, Ready);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (duringOpen ? 30000 : 40000)));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "child ended by itself: " << status;
    ++kills;

    // The child's progress up to the kill.
    std::optional<Progress> inFlight;
    for (;;) {
      ssize_t got = read(fds[0], &p, sizeof p);
      if (got <= 0) break;
      ASSERT_EQ(got, static_cast<ssize_t>(sizeof p));
      if (p.phase == Ready) continue;
      nextSeq = std::max(nextSeq, p.seq + 1);
      if (p.phase == Begin) {
        inFlight = p;
      } else {
        inFlight.reset();
        if (p.phase == Done) {
          stored[{p.key, p.index}] = Body(MakeRecord(p.key, p.index, p.seq));
          ++doneWrites;
        }
      }
    }
    close(fds[0]);
    if (inFlight) ++killsMidWrite;

    TAsDB db;
    OpenStore(db);
    for (const auto& [k, body] : stored) {
      if (inFlight && inFlight->key == k.first && inFlight->index == k.second) continue;
      TAsDBRecord r = Read(db, k.first, k.first, k.second);
      ASSERT_EQ(Body(r), body) << "key " << k.first << " index " << k.second;
    }
    if (inFlight) {
      // The write in flight: nothing, the new record, or (a replace) a torn
      // mix of old and new bytes.
      std::pair<int32_t, int32_t> k{inFlight->key, inFlight->index};
      Bytes fresh = Body(MakeRecord(k.first, k.second, inFlight->seq));
      TAsDBRecord r = Read(db, k.first, k.first, k.second);
      Bytes got = Body(r);
      auto old = stored.find(k);
      if (old == stored.end()) {
        ASSERT_TRUE(IsZero(r) || got == fresh) << "half-written new record for key " << k.first;
        if (!IsZero(r)) stored[k] = got;
      } else {
        ASSERT_EQ(r.Key, k.first);
        for (size_t i = 0; i < got.size(); ++i) {
          ASSERT_TRUE(got[i] == fresh[i] || got[i] == old->second[i]) << "byte " << i;
        }
        old->second = got;
      }
    }
    for (int32_t never : {0, 10, 10000000 - 2}) EXPECT_TRUE(IsZero(Read(db, never, never, 1)));
    int32_t count = db.RecordCount();
    EXPECT_EQ(count, static_cast<int32_t>(stored.size()));
    db.Close(0);
    ExpectChainsMatchCount(StoreBytes(), count);
    if (HasFatalFailure()) return;
  }
  EXPECT_GE(kills, kMinKills);
  RecordProperty("kills", kills);
  RecordProperty("kills_mid_write", killsMidWrite);
  RecordProperty("writes_returned", static_cast<int>(doneWrites));
  std::printf("store crash test: %d kills (%d during a write), %lld returned writes, %zu records\n",
              kills, killsMidWrite, static_cast<long long>(doneWrites), stored.size());
  EXPECT_GT(doneWrites, 0);
}

}  // namespace
}  // namespace storetest
