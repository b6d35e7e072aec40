// Measures the journal store on a temporary machine folder: page reads per
// second through ReadRecords (last page of a chain of nine) and milliseconds
// per WriteRecord (replace, first record of a slot, chained insert).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/machine/machine.h"
#include "platform/threads/fake_clock.h"
#include "server/store/TAsDB.h"

namespace {

using Clock = std::chrono::steady_clock;
using vostrel::TAsDB;
using vostrel::TAsDBRecord;

TAsDBRecord Page(int32_t key, unsigned char fill) {
  TAsDBRecord r;
  std::memset(&r, 0, sizeof r);
  r.Key = key;
  r.IndexNumber = 1;
  std::memset(r.Payload, fill, sizeof r.Payload);
  return r;
}

// Slot position of a key in index 1, to pick keys that share a slot.
int64_t SlotOf(int32_t key) {
  int64_t q = key == 0 ? 0 : static_cast<int64_t>(key / 9999999.0 * 999545);
  return (q + 3) / 4 * 4;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main() {
  std::string root = (std::filesystem::temp_directory_path() / "vostrel-store-bench").string();
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  setenv("VOSTREL_MACHINE", root.c_str(), 1);
  plat::EnsureMachineLayout();
  const std::string dir = plat::WindowsDirectory() + "\\system";
  const std::string path = dir + "\\VostrelBlog.VDB";

  TAsDB db;
  {
    plat::FakeClock noLockWait;  // the lock folder is absent: skip its 321 ms of retries
    if (db.Open(path.c_str(), dir.c_str(), 1).Code != 0) {
      std::fprintf(stderr, "store did not open\n");
      return 1;
    }
  }
  for (int32_t page = 1; page <= 9; ++page)
    db.WriteRecord(Page(page, static_cast<unsigned char>(page)), page, page, 1);

  TAsDBRecord buffer;
  int64_t reads = 0;
  Clock::time_point start = Clock::now();
  while (Seconds(start) < 2.0) {
    for (int i = 0; i < 1000; ++i) db.ReadRecords(&buffer, 9, 9, 1);
    reads += 1000;
  }
  double readSeconds = Seconds(start);
  if (buffer.Key != 9) std::fprintf(stderr, "page 9 not read back\n");
  std::printf("ReadRecords, page 9 at the end of a chain of nine: %.0f reads/s\n",
              reads / readSeconds);

  constexpr int Replaces = 200;
  start = Clock::now();
  for (int i = 0; i < Replaces; ++i)
    db.WriteRecord(Page(5, static_cast<unsigned char>(i)), 5, 5, 1);
  std::printf("WriteRecord, replace: %.3f ms per write\n", Seconds(start) * 1000.0 / Replaces);

  // Pairs of keys that share a slot: the first starts a chain, the second is
  // linked behind it (link flushed, then the record).
  constexpr int Pairs = 38;  // 9 + 2 x 38 records fit the 87 of a new store
  double firstSeconds = 0, chainedSeconds = 0;
  for (int i = 1; i <= Pairs; ++i) {
    int32_t key = i * 1000;
    int32_t partner = SlotOf(key + 1) == SlotOf(key) ? key + 1 : key - 1;
    Clock::time_point t = Clock::now();
    if (db.WriteRecord(Page(key, 1), key, key, 1).Code != 0)
      std::fprintf(stderr, "insert %d refused\n", key);
    firstSeconds += Seconds(t);
    t = Clock::now();
    if (db.WriteRecord(Page(partner, 1), partner, partner, 1).Code != 0)
      std::fprintf(stderr, "insert %d refused\n", partner);
    chainedSeconds += Seconds(t);
  }
  std::printf("WriteRecord, first record of a slot: %.3f ms per write\n",
              firstSeconds * 1000.0 / Pairs);
  std::printf("WriteRecord, chained insert: %.3f ms per write\n", chainedSeconds * 1000.0 / Pairs);
  db.Close(0);
  std::filesystem::remove_all(root);
  return 0;
}
