// The record engine: lookups and ranges, keys and indexes outside the store,
// stores that are not open, damaged indexes and chains, and the repair of an
// interrupted insert at open.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "store_fixture.h"

namespace storetest {
namespace {

using vostrel::TAsDB;
using vostrel::TAsDBRecord;

using StoreEngine = StoreMachine;

TEST_F(StoreEngine, WritingAPageAgainReplacesIt) {
  TAsDB db;
  OpenStore(db);
  ASSERT_EQ(db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1).Code, 0);
  EXPECT_EQ(WordAt(StoreBytes(), 3620), 4104200);
  EXPECT_EQ(db.RecordCount(), 1);
  ASSERT_EQ(db.WriteRecord(MakeRecord(1, 1, 2), 1, 1, 1).Code, 0);
  EXPECT_EQ(db.RecordCount(), 1);
  EXPECT_EQ(Body(Read(db, 1, 1, 1)), Body(MakeRecord(1, 1, 2)));
  // Only Key is compared: the same key under another IndexNumber is the same
  // record of that slot.
  ASSERT_EQ(db.WriteRecord(MakeRecord(1, 3, 4), 1, 1, 1).Code, 0);
  EXPECT_EQ(db.RecordCount(), 1);
  EXPECT_EQ(Read(db, 1, 1, 1).IndexNumber, 3);
  db.Close(0);
}

TEST_F(StoreEngine, RangesLeaveTheOutcomeOfTheLastKey) {
  TAsDB db;
  OpenStore(db);
  for (int32_t page : {1, 2, 3}) db.WriteRecord(MakeRecord(page, 1, 7), page, page, 1);
  db.WriteRecord(MakeRecord(60, 1, 7), 60, 60, 1);
  struct Case {
    int32_t first, last;
    int32_t expectKey;  // 0: all-zero record
  };
  const Case cases[] = {
      {2, 1, 2},   // the first key is read even above the last
      {1, 3, 3},   // the last key's record
      {2, 5, 3},   // keys 4 and 5 are absent from a chain: the buffer keeps key 3
      {1, 12, 0},  // key 11 and 12: slot 3624 is empty, zeros
      {58, 60, 60},
      {60, 61, 60},
      {-5, 2, 2},  // negative keys read as not stored, then 0..2
      {3, 9999999, 0},
      {INT_MAX - 1, INT_MAX, 0},
      {INT_MIN, INT_MIN + 1, 0},
      {INT_MAX, INT_MIN, 0},
  };
  for (const Case& c : cases) {
    int32_t code = -1;
    TAsDBRecord r = Read(db, c.first, c.last, 1, &code);
    EXPECT_EQ(code, 0);
    if (c.expectKey == 0) {
      EXPECT_TRUE(IsZero(r)) << c.first << ".." << c.last;
    } else {
      EXPECT_EQ(Body(r), Body(MakeRecord(c.expectKey, 1, 7))) << c.first << ".." << c.last;
    }
  }
  db.Close(0);
}

// Keys the slot rule cannot place, and index numbers without a slot, never
// reach the index: reads give zeros, writes 999, the file stays as it was.
TEST_F(StoreEngine, KeysAndIndexesOutsideTheStoreTouchNothing) {
  TAsDB db;
  OpenStore(db);
  db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1);
  Bytes before = StoreBytes();
  for (int32_t key : {-1, -40, -41, -100, -4000, INT_MIN, 9999999, 10000000, 20000000, INT_MAX}) {
    for (int32_t index = 1; index <= 4; ++index) {
      SCOPED_TRACE(::testing::Message() << "key " << key << " index " << index);
      int32_t code = -1;
      EXPECT_TRUE(IsZero(Read(db, key, key, index, &code)));
      EXPECT_EQ(code, 0);
      EXPECT_EQ(db.WriteRecord(MakeRecord(key, index, 1), key, key, index).Code, 999);
    }
  }
  for (int32_t index : {0, 5, -1, INT_MAX}) {
    EXPECT_TRUE(IsZero(Read(db, 1, 1, index))) << index;
    EXPECT_EQ(db.WriteRecord(MakeRecord(1, 1, 9), 1, 1, index).Code, 999) << index;
  }
  EXPECT_EQ(StoreBytes(), before);
  EXPECT_EQ(db.RecordCount(), 1);
  db.Close(0);
}

TEST_F(StoreEngine, TopKeysOfTheLastIndexStayOutOfTheSharedArea) {
  std::filesystem::create_directories(LockFolder());  // shared area holds the header copy
  TAsDB db;
  OpenStore(db);
  for (int32_t key : {9999969, 9999990, 9999998}) {
    ASSERT_EQ(db.WriteRecord(MakeRecord(key, 4, 2), key, key, 4).Code, 0) << key;
  }
  for (int32_t key : {9999969, 9999990, 9999998})
    EXPECT_EQ(Body(Read(db, key, key, 4)), Body(MakeRecord(key, 4, 2)));
  Bytes file = StoreBytes();
  Bytes header = ExpectedHeader();
  EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin() + 4001800));
  db.Close(0);
}

TEST_F(StoreEngine, AStoreThatIsNotOpenTouchesNothing) {
  TAsDB never;
  int32_t code = -1;
  EXPECT_TRUE(IsZero(Read(never, 1, 1, 1, &code)));
  EXPECT_EQ(code, 999);
  EXPECT_EQ(never.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1).Code, 999);
  EXPECT_EQ(never.WriteRecord(MakeRecord(1, 0, 1), 1, 1, 1).Code, 999);
  EXPECT_EQ(never.Close(0), 0);
  EXPECT_FALSE(std::filesystem::exists(NativeStore()));

  TAsDB db;
  OpenStore(db);
  db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1);
  EXPECT_NE(db.Close(0), 0);
  Bytes closed = StoreBytes();
  EXPECT_EQ(db.Close(0), 0);
  EXPECT_TRUE(IsZero(Read(db, 1, 1, 1, &code)));
  EXPECT_EQ(code, 999);
  EXPECT_EQ(db.WriteRecord(MakeRecord(1, 1, 2), 1, 1, 1).Code, 999);
  EXPECT_EQ(db.WriteRecord(MakeRecord(2, 1, 2), 2, 2, 1).Code, 999);
  EXPECT_EQ(db.RecordCount(), 0);
  EXPECT_EQ(StoreBytes(), closed);

  // The same object opens the store again.
  OpenStore(db);
  EXPECT_EQ(db.RecordCount(), 1);
  EXPECT_EQ(Body(Read(db, 1, 1, 1)), Body(MakeRecord(1, 1, 1)));
  // A second Open of an open store is refused and leaves it open.
  EXPECT_EQ(db.Open(StorePath().c_str(), StoreDir().c_str(), 1).Code, 999);
  EXPECT_EQ(Body(Read(db, 1, 1, 1)), Body(MakeRecord(1, 1, 1)));
  EXPECT_NE(db.Close(0), 0);
}

TEST_F(StoreEngine, OpenReportsWhatCouldNotBeMade) {
  // File: its folder is missing and no directory is given to create.
  {
    TAsDB db;
    EXPECT_EQ(db.Open("C:\\no such folder\\VostrelBlog.VDB", "", 1).Code, 999);
    EXPECT_EQ(db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1).Code, 999);
    EXPECT_TRUE(IsZero(Read(db, 1, 1, 1)));
    EXPECT_EQ(db.Close(0), 0);
  }
  // Directory: a file stands where it should be.
  {
    WriteFile(root_ + "/c/blocker", {'x'});
    TAsDB db;
    EXPECT_EQ(db.Open("C:\\blocker\\sub\\VostrelBlog.VDB", "C:\\blocker\\sub", 1).Code, 999);
    EXPECT_EQ(db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1).Code, 999);
  }
  // Mapping: refused once, then the same object opens.
  {
    plat::FailNth(plat::FaultPoint::MapFile, 1);
    TAsDB db;
    EXPECT_EQ(db.Open(StorePath().c_str(), StoreDir().c_str(), 1).Code, 999);
    EXPECT_EQ(db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1).Code, 999);
    EXPECT_TRUE(IsZero(Read(db, 1, 1, 1)));
    OpenStore(db);
    EXPECT_EQ(db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1).Code, 0);
    EXPECT_NE(db.Close(0), 0);
  }
  // The directory is created when missing.
  {
    TAsDB db;
    EXPECT_EQ(db.Open("C:\\journal\\new\\VostrelBlog.VDB", "C:\\journal\\new", 1).Code,
              999);  // parent missing
    EXPECT_EQ(db.Open("C:\\journal2\\VostrelBlog.VDB", "C:\\journal2", 1).Code, 0);
    EXPECT_TRUE(std::filesystem::exists(root_ + "/c/journal2/VostrelBlog.VDB"));
    db.Close(0);
  }
}

TEST_F(StoreEngine, ASlotOfZeroIsEmpty) {
  TAsDB db;
  OpenStore(db);
  PokeWord(3620, 0);
  EXPECT_TRUE(IsZero(Read(db, 1, 1, 1)));
  ASSERT_EQ(db.WriteRecord(MakeRecord(2, 1, 1), 2, 2, 1).Code, 0);
  EXPECT_EQ(WordAt(StoreBytes(), 3620), 4104200);
  EXPECT_EQ(Body(Read(db, 2, 2, 1)), Body(MakeRecord(2, 1, 1)));
  db.Close(0);
}

// A link the writer has made to the record it is about to append is followed
// without harm: the page reads as not stored.
TEST_F(StoreEngine, ALinkToTheNextAppendReadsAsNotStored) {
  TAsDB db;
  OpenStore(db);
  db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1);
  db.WriteRecord(MakeRecord(2, 1, 1), 2, 2, 1);
  PokeWord(RecordAt(1), static_cast<int32_t>(RecordAt(2)));
  EXPECT_TRUE(IsZero(Read(db, 3, 3, 1)));
  EXPECT_TRUE(IsZero(Read(db, 0, 0, 1)));  // key 0 meets the never-written record
  EXPECT_EQ(Body(Read(db, 2, 2, 1)), Body(MakeRecord(2, 1, 1)));
  // Linking past that record would link the chain's end to itself.
  Bytes before = StoreBytes();
  EXPECT_EQ(db.WriteRecord(MakeRecord(3, 1, 1), 3, 3, 1).Code, 6);
  EXPECT_EQ(StoreBytes(), before);
  db.Close(0);
}

// An insert that died after its link (or its slot) and before its record: the
// next open cuts the link, and the page can be saved again.
TEST_F(StoreEngine, OpenCutsLinksToRecordsNeverWritten) {
  {
    TAsDB db;
    OpenStore(db);
    db.WriteRecord(MakeRecord(1, 1, 1), 1, 1, 1);
    db.WriteRecord(MakeRecord(2, 1, 1), 2, 2, 1);
    db.Close(0);
  }
  PokeWord(RecordAt(1), static_cast<int32_t>(RecordAt(2)));  // chained insert cut short
  PokeWord(3628, static_cast<int32_t>(RecordAt(2)));         // key 51's first record cut short
  PokeWord(3632, static_cast<int32_t>(RecordAt(5)));         // and one further out
  TAsDB db;
  OpenStore(db);
  EXPECT_EQ(db.RecordCount(), 2);
  Bytes file = StoreBytes();
  EXPECT_EQ(WordAt(file, RecordAt(1)), 0);
  EXPECT_EQ(WordAt(file, 3628), -1);
  EXPECT_EQ(WordAt(file, 3632), -1);
  EXPECT_EQ(WordAt(file, 3620), RecordAt(0));
  EXPECT_EQ(WordAt(file, RecordAt(0)), RecordAt(1));
  ASSERT_EQ(db.WriteRecord(MakeRecord(3, 1, 1), 3, 3, 1).Code, 0);
  ASSERT_EQ(db.WriteRecord(MakeRecord(51, 1, 1), 51, 51, 1).Code, 0);
  for (int32_t key : {1, 2, 3, 51})
    EXPECT_EQ(Body(Read(db, key, key, 1)), Body(MakeRecord(key, 1, 1))) << key;
  file = StoreBytes();
  EXPECT_EQ(WordAt(file, RecordAt(1)), RecordAt(2));
  EXPECT_EQ(WordAt(file, 3628), RecordAt(3));
  db.Close(0);
}

// An append that died after its Key and before its IndexNumber: the record
// reads as not stored during the run and is taken back at the next open.
TEST_F(StoreEngine, OpenTakesBackARecordWithoutIndexNumber) {
  {
    TAsDB db;
    OpenStore(db);
    for (int32_t page = 1; page <= 3; ++page) db.WriteRecord(MakeRecord(page, 1, 1), page, page, 1);
    PokeWord(RecordAt(2) + 8, 0);
    EXPECT_TRUE(IsZero(Read(db, 3, 3, 1)));
    db.Close(0);
  }
  TAsDB db;
  OpenStore(db);
  EXPECT_EQ(db.RecordCount(), 2);
  Bytes file = StoreBytes();
  EXPECT_EQ(WordAt(file, RecordAt(2) + 4), 0);
  EXPECT_EQ(WordAt(file, RecordAt(1)), 0);
  ASSERT_EQ(db.WriteRecord(MakeRecord(3, 1, 2), 3, 3, 1).Code, 0);
  EXPECT_EQ(db.RecordCount(), 3);
  EXPECT_EQ(Body(Read(db, 3, 3, 1)), Body(MakeRecord(3, 1, 2)));
  EXPECT_EQ(WordAt(StoreBytes(), RecordAt(1)), RecordAt(2));
  db.Close(0);
}

// A damaged index or chain ends the process with exit status 5 at the lookup
// that meets it, from a read as from a write.
class DamagedStore : public StoreMachine {
 protected:
  void SetUp() override {
    StoreMachine::SetUp();
    TAsDB db;
    OpenStore(db);
    for (int32_t page = 1; page <= 3; ++page) db.WriteRecord(MakeRecord(page, 1, 1), page, page, 1);
    db.Close(0);
  }
};

TEST_F(DamagedStore, EndsTheProcessWithStatusFive) {
  struct Case {
    const char* what;
    int64_t offset;
    int32_t value;
  };
  const Case cases[] = {
      {"slot 12", 3620, 12},
      {"slot inside the header", 3620, 3000},
      {"slot inside a record", 3620, static_cast<int32_t>(RecordAt(1) + 4)},
      {"slot past the mapping", 3620, 5000000},
      {"slot on a record that is not whole", 3620, static_cast<int32_t>(RecordAt(87))},
      {"Next inside a record", RecordAt(2), static_cast<int32_t>(RecordAt(0) + 8)},
      {"Next into the index", RecordAt(2), 3620},
      {"Next past the mapping", RecordAt(2), 7000000},
      {"Next negative", RecordAt(2), -1},
      {"a loop", RecordAt(2), static_cast<int32_t>(RecordAt(0))},
      {"a record linked to itself", RecordAt(0), static_cast<int32_t>(RecordAt(0))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TAsDB db;
    OpenStore(db);
    int32_t old = WordAt(StoreBytes(), c.offset);
    PokeWord(c.offset, c.value);
    // Key 4 walks the whole chain; key 1 is found at its first record, so only
    // a bad slot stops it.
    EXPECT_EXIT(Read(db, 4, 4, 1), ::testing::ExitedWithCode(5), "");
    EXPECT_EXIT(db.WriteRecord(MakeRecord(4, 1, 2), 4, 4, 1), ::testing::ExitedWithCode(5), "");
    PokeWord(c.offset, old);
    db.Close(0);
  }
}

TEST_F(DamagedStore, ALookupThatStopsShortOfTheDamageGoesOn) {
  TAsDB db;
  OpenStore(db);
  PokeWord(RecordAt(2), 12);  // the last record's Next
  EXPECT_EQ(Body(Read(db, 1, 1, 1)), Body(MakeRecord(1, 1, 1)));
  EXPECT_EQ(Body(Read(db, 3, 3, 1)), Body(MakeRecord(3, 1, 1)));
  EXPECT_TRUE(IsZero(Read(db, 51, 51, 1)));  // another slot
  db.Close(0);
}

}  // namespace
}  // namespace storetest
