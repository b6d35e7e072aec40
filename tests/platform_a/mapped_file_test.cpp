// The whole-file shared mapping of the store, and the physical memory figure.
#include "platform/mapping/mapped_file.h"

#include <cstring>
#include <filesystem>

#include "platform/files/files.h"
#include "platform/memory/memory.h"
#include "platform_a/temp_machine.h"

namespace {

using MappedFileTest = TempMachine;

constexpr int64_t kFirstSize = 5000000;
constexpr int64_t kGrownSize = 10000000;

uint8_t Pattern(int64_t i) { return static_cast<uint8_t>((i * 131 + 7) % 251 + 1); }  // never 0

TEST_F(MappedFileTest, GrownFileKeepsItsBytesAndNewBytesAreZero) {
  std::filesystem::create_directories(Native("c/WINDOWS/system"));
  const std::string path = "C:\\windows\\system\\VostrelBlog.VDB";
  {
    plat::MappedFile m;
    ASSERT_TRUE(m.Create(path));
    ASSERT_TRUE(m.Grow(kFirstSize));
    uint8_t* v = m.Map();
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(m.ViewSize(), kFirstSize);
    for (int64_t i = 0; i < kFirstSize; ++i) {
      ASSERT_EQ(v[i], 0) << i;
      v[i] = Pattern(i);
    }
    ASSERT_TRUE(m.Flush());
  }  // destructor unmaps and closes
  plat::MappedFile m;
  ASSERT_TRUE(m.OpenExisting(path));
  EXPECT_EQ(m.FileSize(), kFirstSize);
  ASSERT_TRUE(m.Grow(kGrownSize));
  EXPECT_TRUE(m.Grow(kFirstSize));  // never shrinks
  EXPECT_EQ(m.FileSize(), kGrownSize);
  uint8_t* v = m.Map();
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(m.ViewSize(), kGrownSize);
  int64_t badOld = 0;
  int64_t badNew = 0;
  for (int64_t i = 0; i < kFirstSize; ++i) badOld += v[i] != Pattern(i);
  for (int64_t i = kFirstSize; i < kGrownSize; ++i) badNew += v[i] != 0;
  EXPECT_EQ(badOld, 0);
  EXPECT_EQ(badNew, 0);
  plat::FileStatus st;
  ASSERT_TRUE(plat::GetFileStatus(path, &st));
  EXPECT_EQ(st.size, kGrownSize);
}

TEST_F(MappedFileTest, FlushedViewIsWhatTheFileHolds) {
  plat::MappedFile m;
  ASSERT_TRUE(m.Create("C:\\store.vdb"));
  ASSERT_TRUE(m.Grow(4096));
  uint8_t* v = m.Map();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(m.Map(), v);  // one address for the mapping's life
  std::memcpy(v + 100, "journal", 7);
  ASSERT_TRUE(m.Flush());
  plat::File f = plat::File::Open("C:\\STORE.VDB", "rb");
  char buf[107];
  ASSERT_EQ(f.Read(buf, sizeof buf, 1), 1u);
  EXPECT_EQ(std::string(buf + 100, 7), "journal");
  EXPECT_TRUE(m.Unmap());
  EXPECT_FALSE(m.Unmap());
  EXPECT_EQ(m.View(), nullptr);
  EXPECT_TRUE(m.Close());
  EXPECT_FALSE(m.Close());
}

TEST_F(MappedFileTest, CreateAndOpenExistingRefuseTheWrongCase) {
  WriteRaw("c/exists.vdb", "data");
  plat::MappedFile m;
  EXPECT_FALSE(m.Create("C:\\exists.vdb"));
  EXPECT_FALSE(m.Create("C:\\EXISTS.VDB"));  // case-insensitive: the same file
  EXPECT_EQ(ReadRaw("c/exists.vdb"), "data");
  EXPECT_FALSE(m.OpenExisting("C:\\missing.vdb"));
  EXPECT_FALSE(m.IsOpen());
  EXPECT_FALSE(m.Flush());
  EXPECT_EQ(m.Map(), nullptr);
  ASSERT_TRUE(m.OpenExisting("C:\\Exists.vdb"));
  EXPECT_FALSE(m.OpenExisting("C:\\exists.vdb"));  // already open
}

TEST_F(MappedFileTest, MapFaultFailsThatMapOnly) {
  plat::MappedFile m;
  ASSERT_TRUE(m.Create("C:\\f.vdb"));
  EXPECT_EQ(m.Map(), nullptr);  // an empty file has nothing to map
  ASSERT_TRUE(m.Grow(8192));
  plat::FailNth(plat::FaultPoint::MapFile, 1);
  EXPECT_EQ(m.Map(), nullptr);
  EXPECT_NE(m.Map(), nullptr);
}

TEST_F(MappedFileTest, AvailableMemoryIsRealUnlessOverridden) {
  uint32_t real = plat::AvailablePhysicalMemory();
  EXPECT_GT(real, 0u);
  plat::SetAvailablePhysicalMemoryForTest(1234);
  EXPECT_EQ(plat::AvailablePhysicalMemory(), 1234u);
  plat::SetAvailablePhysicalMemoryForTest(0);
  EXPECT_GT(plat::AvailablePhysicalMemory(), 1234u);
}

}  // namespace
