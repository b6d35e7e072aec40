// The store's primitives: the mapped file, the swapper's sizing and counting,
// the lock file and the shared area.
#include <gtest/gtest.h>

#include <filesystem>

#include "server/store/TDataSwapper3.h"
#include "server/store/TMemoryMappedFile.h"
#include "server/store/TSemaphore.h"
#include "server/store/TSharedMemory.h"
#include "store_fixture.h"

namespace storetest {
namespace {

using vostrel::TDataSwapper3;
using vostrel::TMemoryMappedFile;
using vostrel::TSemaphore;
using vostrel::TSharedMemory;

using StorePrimitives = StoreMachine;

TEST_F(StorePrimitives, MapLaysOutAMissingFile) {
  TMemoryMappedFile file;
  uint8_t* view = file.Map(StorePath().c_str(), StoreDir().c_str(), 5000000);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(file.IsNew());
  ASSERT_EQ(file.Flush(), 0);
  Bytes bytes = StoreBytes();
  ASSERT_EQ(bytes.size(), 5000000u);
  Bytes expected(5000000, 0);
  std::fill(expected.begin() + 3620, expected.begin() + 4001800, 0xFF);
  EXPECT_EQ(FirstDifference(bytes, expected), -1);
  EXPECT_NE(file.Unmap(), 0);
}

TEST_F(StorePrimitives, MapGrowsAnExistingStoreKeepingItsBytes) {
  {
    TMemoryMappedFile file;
    uint8_t* view = file.Map(StorePath().c_str(), StoreDir().c_str(), 5000000);
    ASSERT_NE(view, nullptr);
    view[4999999] = 0x42;
    view[4104204] = 0x17;
    ASSERT_NE(file.Unmap(), 0);
  }
  Bytes before = StoreBytes();
  TMemoryMappedFile file;
  uint8_t* view = file.Map(StorePath().c_str(), StoreDir().c_str(), 10000000);
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(file.IsNew());
  EXPECT_EQ(file.ViewSize(), 10000000);
  ASSERT_NE(file.Unmap(), 0);
  Bytes after = StoreBytes();
  ASSERT_EQ(after.size(), 10000000u);
  Bytes expected = before;
  expected.resize(10000000, 0);
  EXPECT_EQ(FirstDifference(after, expected), -1);
}

TEST_F(StorePrimitives, MapFailsWithoutAFileOrAMapping) {
  TMemoryMappedFile missingFolder;
  EXPECT_EQ(missingFolder.Map("C:\\no such folder\\x.VDB", "", 5000000), nullptr);
  plat::FailNth(plat::FaultPoint::MapFile, 1);
  TMemoryMappedFile noMapping;
  EXPECT_EQ(noMapping.Map(StorePath().c_str(), StoreDir().c_str(), 5000000), nullptr);
  EXPECT_EQ(noMapping.Flush(), 999);
}

TEST_F(StorePrimitives, FlushAndUnmapReportWhatIsLeft) {
  TMemoryMappedFile never;
  EXPECT_EQ(never.Flush(), 999);
  EXPECT_EQ(never.Unmap(), 0);
  TMemoryMappedFile file;
  ASSERT_NE(file.Map(StorePath().c_str(), StoreDir().c_str(), 5000000), nullptr);
  EXPECT_EQ(file.Flush(), 0);
  EXPECT_NE(file.Unmap(), 0);
  EXPECT_EQ(file.Unmap(), 0);
  EXPECT_EQ(file.Flush(), 999);
}

TEST_F(StorePrimitives, CountTrailingZeros) {
  struct Case {
    Bytes bytes;
    int64_t zeros;
  };
  Bytes across(200000, 0);
  across[0] = 1;  // zeros run across several read chunks
  Bytes atChunkEnd(65535 * 2, 0);
  atChunkEnd[65534] = 7;  // last byte of the first chunk
  Bytes inSecondChunk(70000, 3);
  inSecondChunk[69999] = 0;
  const Case cases[] = {
      {{'a', 'b', 0, 0}, 2},      {{0, 0}, 2},         {{1, 2, 3}, 0},
      {across, 199999},           {atChunkEnd, 65535}, {inSecondChunk, 1},
      {Bytes(131070, 0), 131070},
  };
  TDataSwapper3 swapper;
  for (const Case& c : cases) {
    WriteFile(NativeStore(), c.bytes);
    EXPECT_EQ(swapper.CountTrailingZeros(StorePath().c_str()), c.zeros) << c.bytes.size();
  }
  EXPECT_EQ(swapper.CountTrailingZeros("C:\\missing.VDB"), 0);
  plat::FailNth(plat::FaultPoint::FileOpen, 1);
  EXPECT_EQ(swapper.CountTrailingZeros(StorePath().c_str()), 0);  // unknown tail: not all zero
}

TEST_F(StorePrimitives, MappedSizeAtOpen) {
  struct Case {
    bool exists;
    int64_t size;
    int64_t zeros;
    int64_t mapped;
  };
  const Case cases[] = {
      {false, 0, 0, 5000000},
      {true, 0, 0, 5000000},
      {true, 1, 0, 5000000},
      {true, 5000000, 100000, 5000000},
      {true, 5000000, 99999, 10000000},
      {true, 4999999, 200000, 5000000},
      {true, 9999999, 100000, 10000000},
      {true, 10000000, 0, 15000000},
      {true, 2000000, 2000000, 5000000},  // short file: never below one step
      {true, 7000000, 3000000, 5000000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TDataSwapper3::ComputeMappedSize(c.exists, c.size, c.zeros), c.mapped)
        << c.size << " " << c.zeros;
  }
  // Record offsets are int32: the mapping stops growing below 2 GiB.
  EXPECT_LE(TDataSwapper3::ComputeMappedSize(true, 2145000000, 0), int64_t{INT32_MAX});
}

TEST_F(StorePrimitives, CountRecordsStopsAtTheFirstNeverWrittenRecord) {
  TDataSwapper3 none;
  EXPECT_EQ(none.CountRecords(), -1);

  Bytes file(5000000, 0);
  auto put = [&file](int64_t at, int32_t v) { std::memcpy(file.data() + at, &v, 4); };
  put(RecordAt(0) + 4, 0);  // Key 0 but IndexNumber 1: a record
  put(RecordAt(0) + 8, 1);
  put(RecordAt(1) + 4, 5);  // IndexNumber 0 but Key 5: a record
  put(RecordAt(2) + 8, 2);
  // record 3 is all zero; record 4 is never reached
  put(RecordAt(4) + 4, 9);
  put(RecordAt(4) + 8, 1);
  WriteFile(NativeStore(), file);
  Bytes schema(3584, 0), options(36, 0);
  TDataSwapper3 swapper;
  ASSERT_EQ(
      swapper.MapStore(StorePath().c_str(), StoreDir().c_str(), schema.data(), options.data()).Code,
      0);
  EXPECT_EQ(swapper.CountRecords(), 3);
  EXPECT_EQ(swapper.RecordCount(), 3);
  EXPECT_NE(swapper.Unmap(), 0);
}

TEST_F(StorePrimitives, CountRecordsStopsAtTheEndOfTheMapping) {
  // 87 records fill a 5000000-byte mapping; a longer foreign file with a long
  // zero tail is mapped at one step only, so the count ends with the mapping.
  Bytes file(7000000, 0);
  for (int64_t n = 0; n < 88; ++n) {
    int32_t one = 1;
    std::memcpy(file.data() + RecordAt(n) + 8, &one, 4);
  }
  WriteFile(NativeStore(), file);
  Bytes schema(3584, 0), options(36, 0);
  TDataSwapper3 swapper;
  ASSERT_EQ(
      swapper.MapStore(StorePath().c_str(), StoreDir().c_str(), schema.data(), options.data()).Code,
      0);
  EXPECT_EQ(swapper.MappedSize(), 5000000);
  EXPECT_EQ(swapper.CountRecords(), 87);
  EXPECT_NE(swapper.Unmap(), 0);
}

TEST_F(StorePrimitives, SemaphoreWithoutTheLockFolder) {
  TSemaphore semaphore;
  EXPECT_EQ(semaphore.Acquire(2, 320), 1);
  EXPECT_EQ(clock_->SleptMs(), 0u);
  EXPECT_EQ(semaphore.Acquire(1, 320), 3);
  EXPECT_EQ(clock_->SleptMs(), 321u);  // 322 attempts, a 1 ms wait between each
  EXPECT_FALSE(semaphore.IsHeld());
}

TEST_F(StorePrimitives, SemaphoreHoldsTheLockFile) {
  std::filesystem::create_directories(LockFolder());
  TSemaphore semaphore;
  EXPECT_EQ(semaphore.Acquire(1, 320), 2);
  EXPECT_TRUE(semaphore.IsHeld());
  EXPECT_EQ(clock_->SleptMs(), 0u);
  EXPECT_TRUE(std::filesystem::exists(LockFile()));
  semaphore.RemoveLockFile();
  EXPECT_FALSE(std::filesystem::exists(LockFile()));
  semaphore.RemoveLockFile();  // a missing file is no error
}

TEST_F(StorePrimitives, AttachPlacesTheSharedAreaWhenTheLockIsHeld) {
  std::vector<uint8_t> area(4001801);
  uint8_t* view = area.data();
  {
    TSharedMemory shared;
    EXPECT_EQ(shared.Attach(100000, view), nullptr);
    EXPECT_EQ(shared.Size(), 0);
    EXPECT_EQ(shared.Acquire(), 1);
  }
  std::filesystem::create_directories(LockFolder());
  WriteFile(LockFile(), {'x', 'y'});
  TSharedMemory shared;
  EXPECT_EQ(shared.Attach(100000, view), view + 4001800);
  EXPECT_EQ(shared.Size(), 100000);
  EXPECT_EQ(std::filesystem::file_size(LockFile()), 0u);  // removed, then opened empty
  EXPECT_EQ(shared.Acquire(), 2);
}

}  // namespace
}  // namespace storetest
