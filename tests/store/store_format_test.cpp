// The store file at the byte: layout of a new store, slot positions, chains,
// the header rewrite and growth at open, short files and the shared area.
#include <gtest/gtest.h>

#include <filesystem>

#include "store_fixture.h"

namespace storetest {
namespace {

using vostrel::TAsDB;
using vostrel::TAsDBRecord;

class StoreFormat : public StoreMachine {
 protected:
  // A store as a fresh open leaves it: header, empty index, zero elsewhere
  // (and the header's copy at the shared area when the lock was held).
  static void ExpectNewStore(const Bytes& file, bool sharedCopy) {
    Bytes expected(5000000, 0);
    Bytes header = ExpectedHeader();
    std::copy(header.begin(), header.end(), expected.begin());
    std::fill(expected.begin() + 3620, expected.begin() + 4001800, 0xFF);
    if (sharedCopy) std::copy(header.begin(), header.end(), expected.begin() + 4001800);
    ASSERT_EQ(file.size(), expected.size());
    EXPECT_EQ(FirstDifference(file, expected), -1);
  }
};

TEST_F(StoreFormat, NewStoreIsLaidOutAndEmpty) {
  TAsDB db;
  OpenStore(db);
  EXPECT_EQ(db.RecordCount(), 0);
  ExpectNewStore(StoreBytes(), false);
  int32_t code = -1;
  EXPECT_TRUE(IsZero(Read(db, 1, 1, 1, &code)));
  EXPECT_EQ(code, 0);
  EXPECT_NE(db.Close(0), 0);
  ExpectNewStore(StoreBytes(), false);
}

TEST_F(StoreFormat, EmptyFileIsInitialisedLikeANewOne) {
  WriteFile(NativeStore(), {});
  TAsDB db;
  OpenStore(db);
  EXPECT_EQ(db.RecordCount(), 0);
  db.Close(0);
  ExpectNewStore(StoreBytes(), false);
}

TEST_F(StoreFormat, SharedAreaHoldsTheHeaderWhenTheLockFolderExists) {
  std::filesystem::create_directories(LockFolder());
  WriteFile(LockFile(), {'s', 't', 'a', 'l', 'e'});
  TAsDB db;
  OpenStore(db);
  ExpectNewStore(StoreBytes(), true);
  // The stale lock file was removed and the new one is held open, empty.
  ASSERT_TRUE(std::filesystem::exists(LockFile()));
  EXPECT_EQ(std::filesystem::file_size(LockFile()), 0u);
  db.Close(0);
}

// The only slot that changes when one record is filed into a new store.
TEST_F(StoreFormat, KeysFallIntoTheirSlots) {
  struct Case {
    int32_t key;
    int32_t index;
    int64_t slot;
  };
  const Case cases[] = {
      {1, 1, 3620},
      {10, 1, 3620},
      {11, 1, 3624},
      {50, 1, 3624},
      {51, 1, 3628},
      {0, 2, 1003168},
      {0, 1, 3620},
      {9999998, 1, 3620 + 999544},
      // The top keys of index 4 would round into the shared area; they keep
      // to the last slot of the index area.
      {9999998, 4, 4001796},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "key " << c.key << " index " << c.index);
    std::filesystem::remove(NativeStore());
    TAsDB db;
    OpenStore(db);
    ASSERT_EQ(db.WriteRecord(MakeRecord(c.key, c.index, 1), c.key, c.key, c.index).Code, 0);
    EXPECT_EQ(Body(Read(db, c.key, c.key, c.index)), Body(MakeRecord(c.key, c.index, 1)));
    db.Close(0);
    Bytes file = StoreBytes();
    EXPECT_EQ(WordAt(file, c.slot), kRecords);
    int64_t changed = 0;
    for (int64_t at = 3620; at < 4001800; at += 4) changed += WordAt(file, at) != -1;
    EXPECT_EQ(changed, 1);
  }
}

TEST_F(StoreFormat, PagesSavedInOrderChainThroughNext) {
  TAsDB db;
  OpenStore(db);
  for (int32_t page = 1; page <= 3; ++page) {
    TAsDBRecord r = MakeRecord(page, 1, 10);
    r.Next = 777;  // the caller's Next is never stored
    ASSERT_EQ(db.WriteRecord(r, page, page, 1).Code, 0);
  }
  Bytes file = StoreBytes();
  EXPECT_EQ(WordAt(file, 3620), 4104200);
  EXPECT_EQ(WordAt(file, RecordAt(0)), 4114456);
  EXPECT_EQ(WordAt(file, RecordAt(1)), 4124712);
  EXPECT_EQ(WordAt(file, RecordAt(2)), 0);
  for (int64_t n = 0; n < 3; ++n) {
    Bytes expected = RecordBytes(MakeRecord(static_cast<int32_t>(n + 1), 1, 10));
    EXPECT_TRUE(std::equal(expected.begin() + 4, expected.end(), file.begin() + RecordAt(n) + 4))
        << n;
  }

  // Page 2 again: record 1 changes in place and keeps its link.
  TAsDBRecord again = MakeRecord(2, 1, 11);
  again.Next = 0;
  ASSERT_EQ(db.WriteRecord(again, 2, 2, 1).Code, 0);
  EXPECT_EQ(db.RecordCount(), 3);
  Bytes after = StoreBytes();
  EXPECT_EQ(WordAt(after, RecordAt(1)), 4124712);
  Bytes expected = RecordBytes(again);
  EXPECT_TRUE(std::equal(expected.begin() + 4, expected.end(), after.begin() + RecordAt(1) + 4));
  EXPECT_EQ(Body(Read(db, 2, 2, 1)), Body(again));
  // Nothing else moved.
  Bytes expectedFile = file;
  std::copy(expected.begin() + 4, expected.end(), expectedFile.begin() + RecordAt(1) + 4);
  EXPECT_EQ(FirstDifference(after, expectedFile), -1);
  db.Close(0);
}

TEST_F(StoreFormat, PagesSavedOutOfOrderKeepTheOrderOfFirstSaving) {
  TAsDB db;
  OpenStore(db);
  for (int32_t page : {3, 1, 2})
    ASSERT_EQ(db.WriteRecord(MakeRecord(page, 1, 5), page, page, 1).Code, 0);
  Bytes file = StoreBytes();
  EXPECT_EQ(WordAt(file, 3620), RecordAt(0));
  EXPECT_EQ(WordAt(file, RecordAt(0)), RecordAt(1));
  EXPECT_EQ(WordAt(file, RecordAt(1)), RecordAt(2));
  EXPECT_EQ(WordAt(file, RecordAt(2)), 0);
  EXPECT_EQ(WordAt(file, RecordAt(0) + 4), 3);
  EXPECT_EQ(WordAt(file, RecordAt(1) + 4), 1);
  EXPECT_EQ(WordAt(file, RecordAt(2) + 4), 2);
  Bytes two = RecordBytes(Read(db, 2, 2, 1));
  EXPECT_TRUE(std::equal(two.begin(), two.end(), file.begin() + RecordAt(2)));
  db.Close(0);
}

TEST_F(StoreFormat, BadIndexNumberIsRefusedWithTheFileUnchanged) {
  TAsDB db;
  OpenStore(db);
  ASSERT_EQ(db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1).Code, 0);
  Bytes before = StoreBytes();
  for (int32_t bad : {0, 5, -1}) {
    EXPECT_EQ(db.WriteRecord(MakeRecord(1, bad, 2), 1, 1, 1).Code, 7) << bad;
    EXPECT_EQ(db.WriteRecord(MakeRecord(2, bad, 2), 2, 2, 1).Code, 7) << bad;
  }
  EXPECT_EQ(StoreBytes(), before);
  EXPECT_EQ(db.RecordCount(), 1);
  db.Close(0);
}

TEST_F(StoreFormat, ReopenRewritesTheHeaderAndFindsTheSameCount) {
  {
    TAsDB db;
    OpenStore(db);
    for (int32_t page = 1; page <= 4; ++page) db.WriteRecord(MakeRecord(page, 1, 3), page, page, 1);
    db.Close(0);
  }
  Bytes file = StoreBytes();
  for (int i = 0; i < 3620; ++i) file[i] = static_cast<uint8_t>(0xA0 + i % 7);
  WriteFile(NativeStore(), file);

  TAsDB db;
  OpenStore(db);
  EXPECT_EQ(db.RecordCount(), 4);
  Bytes reopened = StoreBytes();
  Bytes header = ExpectedHeader();
  EXPECT_TRUE(std::equal(header.begin(), header.end(), reopened.begin()));
  EXPECT_TRUE(std::equal(file.begin() + 3620, file.end(), reopened.begin() + 3620));
  for (int32_t page = 1; page <= 4; ++page)
    EXPECT_EQ(Body(Read(db, page, page, 1)), Body(MakeRecord(page, 1, 3)));
  db.Close(0);
}

// Growth at open: one more step exactly when fewer than 100000 zero bytes end
// the file.
TEST_F(StoreFormat, OpenGrowsAStoreWithAShortZeroTail) {
  struct Case {
    int64_t lastNonZero;  // offset of the last non-zero byte
    size_t sizeAfter;
  };
  const Case cases[] = {
      {4999999, 10000000}, {5000000 - 100000, 10000000}, {5000000 - 100001, 5000000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastNonZero);
    std::filesystem::remove(NativeStore());
    {
      TAsDB db;
      OpenStore(db);
      db.Close(0);
    }
    Bytes file = StoreBytes();
    file[c.lastNonZero] = 0x01;
    WriteFile(NativeStore(), file);
    TAsDB db;
    OpenStore(db);
    db.Close(0);
    Bytes after = StoreBytes();
    ASSERT_EQ(after.size(), c.sizeAfter);
    Bytes expected = file;
    expected.resize(c.sizeAfter, 0);
    EXPECT_EQ(FirstDifference(after, expected), -1);
  }
}

// A full records area refuses appends during the run; the next open grows the
// file and the write then succeeds.
TEST_F(StoreFormat, FullRecordsAreaRefusesUntilTheNextOpen) {
  {
    TAsDB db;
    OpenStore(db);
    for (int32_t n = 0; n < 87; ++n) {
      int32_t key = 1000 + n * 1000;
      ASSERT_EQ(db.WriteRecord(MakeRecord(key, 1, 1), key, key, 1).Code, 0) << n;
    }
    Bytes full = StoreBytes();
    EXPECT_EQ(db.WriteRecord(MakeRecord(500000, 1, 1), 500000, 500000, 1).Code, 999);  // new slot
    EXPECT_EQ(db.WriteRecord(MakeRecord(1001, 1, 1), 1001, 1001, 1).Code, 999);        // chained
    EXPECT_EQ(StoreBytes(), full);
    // Replacing still works.
    EXPECT_EQ(db.WriteRecord(MakeRecord(1000, 1, 2), 1000, 1000, 1).Code, 0);
    EXPECT_EQ(db.RecordCount(), 87);
    db.Close(0);
  }
  TAsDB db;
  OpenStore(db);
  EXPECT_EQ(std::filesystem::file_size(NativeStore()), 10000000u);
  EXPECT_EQ(db.RecordCount(), 87);
  ASSERT_EQ(db.WriteRecord(MakeRecord(1001, 1, 1), 1001, 1001, 1).Code, 0);
  EXPECT_EQ(Body(Read(db, 1001, 1001, 1)), Body(MakeRecord(1001, 1, 1)));
  EXPECT_EQ(Body(Read(db, 1000, 1000, 1)), Body(MakeRecord(1000, 1, 2)));
  EXPECT_EQ(WordAt(StoreBytes(), RecordAt(0)), RecordAt(87));  // key 1000's chain
  db.Close(0);
}

// Files too short for the regions: mapped at a full step, their missing index
// area empty, usable as a store.
TEST_F(StoreFormat, ShortFilesBecomeUsableStores) {
  for (size_t size : {size_t{1}, size_t{2}, size_t{3620}, size_t{1000000}, size_t{4104200}}) {
    SCOPED_TRACE(size);
    WriteFile(NativeStore(), Bytes(size, 0));
    TAsDB db;
    OpenStore(db);
    EXPECT_EQ(std::filesystem::file_size(NativeStore()), 5000000u);
    EXPECT_EQ(db.RecordCount(), 0);
    for (int32_t key : {0, 1, 9, 5000000, 9999998}) EXPECT_TRUE(IsZero(Read(db, key, key, 1)));
    ASSERT_EQ(db.WriteRecord(MakeRecord(7, 1, 9), 7, 7, 1).Code, 0);
    EXPECT_EQ(Body(Read(db, 7, 7, 1)), Body(MakeRecord(7, 1, 9)));
    db.Close(0);
    Bytes header = ExpectedHeader();
    Bytes file = StoreBytes();
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
  }
}

}  // namespace
}  // namespace storetest
