// Readers beside one writer, and Close while operations are in flight.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "store_fixture.h"

namespace storetest {
namespace {

using vostrel::RecordPayloadSize;
using vostrel::TAsDB;
using vostrel::TAsDBRecord;

constexpr int kReaders = 4;
constexpr int32_t kPages = 9;
constexpr int32_t kFirstChained = 11;  // keys 11 to 50 share the slot at 3624
constexpr int32_t kLastChained = 50;
constexpr int kPayloadWords = RecordPayloadSize / 4;

// Every payload word names its key and version, so a torn read shows which
// versions it mixes.
TAsDBRecord VersionRecord(int32_t key, uint32_t version) {
  TAsDBRecord r;
  std::memset(&r, 0, sizeof r);
  r.Key = key;
  r.IndexNumber = 1;
  uint32_t word = (static_cast<uint32_t>(key) << 20) | version;
  for (int i = 0; i < kPayloadWords; ++i) std::memcpy(r.Payload + 4 * i, &word, 4);
  return r;
}

uint32_t PayloadWord(const TAsDBRecord& r, int i) {
  uint32_t w;
  std::memcpy(&w, r.Payload + 4 * i, 4);
  return w;
}

using StoreConcurrency = StoreMachine;

TEST_F(StoreConcurrency, ReadersBesideOneWriterSeeWrittenOrTornRecords) {
  TAsDB db;
  OpenStore(db);
  for (int32_t page = 1; page <= kPages; ++page)
    ASSERT_EQ(db.WriteRecord(VersionRecord(page, 0), page, page, 1).Code, 0);

  std::array<std::atomic<uint32_t>, kPages + 1> latest{};
  std::atomic<bool> stop{false};
  std::atomic<int64_t> reads{0}, torn{0}, tornMore{0}, insertsSeen{0};
  std::mutex faultsLock;
  std::vector<std::string> faults;
  auto fault = [&](std::string what) {
    std::lock_guard<std::mutex> hold(faultsLock);
    if (faults.size() < 10) faults.push_back(std::move(what));
  };
  std::atomic<int64_t> writes{0};

  std::thread writer([&] {
    int32_t nextChained = kFirstChained;
    for (uint32_t v = 1; !stop.load(); ++v) {
      int32_t page = 1 + static_cast<int32_t>(v % kPages);
      latest[page].store(v);  // announced before the write starts
      if (db.WriteRecord(VersionRecord(page, v), page, page, 1).Code != 0) fault("replace refused");
      if (v % 8 == 0 && nextChained <= kLastChained) {
        if (db.WriteRecord(VersionRecord(nextChained, 0), nextChained, nextChained, 1).Code != 0)
          fault("insert refused");
        ++nextChained;
      }
      writes.fetch_add(1);
    }
  });

  std::vector<std::thread> readers;
  for (int t = 0; t < kReaders; ++t) {
    readers.emplace_back([&, t] {
      std::mt19937 rng(static_cast<uint32_t>(t) * 7 + 1);
      TAsDBRecord r;
      while (!stop.load()) {
        bool chained = rng() % 4 == 0;
        int32_t key = chained ? kFirstChained +
                                    static_cast<int32_t>(rng() % (kLastChained - kFirstChained + 1))
                              : 1 + static_cast<int32_t>(rng() % kPages);
        if (db.ReadRecords(&r, key, key, 1).Code != 0) fault("read refused");
        reads.fetch_add(1);
        if (chained) {
          if (IsZero(r)) continue;  // not inserted yet
          insertsSeen.fetch_add(1);
          if (r.Key != key || r.IndexNumber != 1 || Body(r) != Body(VersionRecord(key, 0)))
            fault("inserted record " + std::to_string(key) + " read wrong");
          continue;
        }
        uint32_t newest = latest[key].load();
        if (r.Key != key || r.IndexNumber != 1) {
          fault("page " + std::to_string(key) + " read with Key " + std::to_string(r.Key));
          continue;
        }
        // Versions in the read, in order of appearance: one, or (torn) a few
        // that were all written for this page.
        std::vector<uint32_t> versions;
        for (int i = 0; i < kPayloadWords; ++i) {
          uint32_t w = PayloadWord(r, i);
          uint32_t version = w & 0xFFFFF;
          if (static_cast<int32_t>(w >> 20) != key || version > newest ||
              (version != 0 && version % kPages != static_cast<uint32_t>(key - 1))) {
            fault("page " + std::to_string(key) + " word " + std::to_string(i) + " = " +
                  std::to_string(w));
            break;
          }
          if (std::find(versions.begin(), versions.end(), version) == versions.end())
            versions.push_back(version);
        }
        if (versions.size() > 2) tornMore.fetch_add(1);
        uint32_t first = versions.empty() ? 0 : versions[0];
        uint32_t second = versions.size() > 1 ? versions[1] : first;
        if (second != first) torn.fetch_add(1);
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  stop.store(true);
  writer.join();
  for (std::thread& r : readers) r.join();

  for (const std::string& f : faults) ADD_FAILURE() << f;
  EXPECT_GT(writes.load(), 0);
  EXPECT_GT(reads.load(), 0);
  std::printf(
      "store concurrency: %lld reads (%lld torn, %lld of them over more than two writes), %lld "
      "writes, %lld inserted records seen\n",
      static_cast<long long>(reads.load()), static_cast<long long>(torn.load()),
      static_cast<long long>(tornMore.load()), static_cast<long long>(writes.load()),
      static_cast<long long>(insertsSeen.load()));
  for (int32_t page = 1; page <= kPages; ++page) {
    TAsDBRecord r = Read(db, page, page, 1);
    EXPECT_EQ(PayloadWord(r, 0) & 0xFFFFF, latest[page].load()) << page;
  }
  EXPECT_NE(db.Close(0), 0);
}

// Close waits for the operations in flight and every later one finds the
// store closed: never unmapped memory (the sanitizer build would report it).
TEST_F(StoreConcurrency, CloseDuringOperationsLeavesThemAClosedStore) {
  TAsDB db;
  OpenStore(db);
  for (int32_t page = 1; page <= kPages; ++page)
    db.WriteRecord(VersionRecord(page, 0), page, page, 1);

  std::atomic<bool> closed{false}, stop{false};
  std::atomic<int64_t> reopenedAfterClose{0}, openResults{0}, closedResults{0};
  auto worker = [&](bool writes) {
    std::mt19937 rng(writes ? 99 : 5);
    TAsDBRecord r;
    bool sawClosed = false;
    for (uint32_t v = 1; !stop.load(); ++v) {
      int32_t key = 1 + static_cast<int32_t>(rng() % (kPages + 3));  // a few inserts too
      bool wasClosed = closed.load();
      int32_t code = writes ? db.WriteRecord(VersionRecord(key, v), key, key, 1).Code
                            : db.ReadRecords(&r, key, key, 1).Code;
      if (code == 999) {
        sawClosed = true;
        closedResults.fetch_add(1);
        if (!writes && !IsZero(r)) reopenedAfterClose.fetch_add(1);
      } else {
        openResults.fetch_add(1);
        if (sawClosed || wasClosed) reopenedAfterClose.fetch_add(1);
      }
    }
  };
  std::vector<std::thread> threads;
  threads.emplace_back(worker, true);
  for (int t = 0; t < kReaders; ++t) threads.emplace_back(worker, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // The listener's shutdown and the service stop may close at the same time:
  // one of them closes, the other finds the store closed.
  int results[2] = {-1, -1};
  std::thread second([&] { results[1] = db.Close(0); });
  results[0] = db.Close(0);
  second.join();
  EXPECT_TRUE((results[0] != 0) != (results[1] != 0)) << results[0] << " " << results[1];
  closed.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop.store(true);
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(reopenedAfterClose.load(), 0);
  EXPECT_GT(openResults.load(), 0);
  EXPECT_GT(closedResults.load(), 0);
  EXPECT_EQ(db.Close(0), 0);
}

}  // namespace
}  // namespace storetest
