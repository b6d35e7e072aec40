// Test fixture for the journal store: a fresh machine folder per test, the
// store path in its system folder, and helpers that read and poke the store
// file at the byte.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/faults/faults.h"
#include "platform/threads/fake_clock.h"
#include "server/store/TAsDB.h"
#include "support/temp_machine.h"

namespace storetest {

using Bytes = std::vector<uint8_t>;

inline int32_t WordAt(const Bytes& bytes, int64_t offset) {
  int32_t v = 0;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

// A record whose payload is a pattern of (key, seed), so two versions of one
// page differ in nearly every byte.
inline vostrel::TAsDBRecord MakeRecord(int32_t key, int32_t indexNumber, uint32_t seed) {
  vostrel::TAsDBRecord r;
  std::memset(&r, 0, sizeof r);
  r.Key = key;
  r.IndexNumber = indexNumber;
  uint32_t x = seed * 2654435761u + static_cast<uint32_t>(key) * 40503u + 1;
  for (int i = 0; i < vostrel::RecordPayloadSize; ++i) {
    x = x * 1664525u + 1013904223u;
    r.Payload[i] = static_cast<unsigned char>(x >> 24);
  }
  return r;
}

inline Bytes RecordBytes(const vostrel::TAsDBRecord& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return Bytes(p, p + sizeof r);
}

// The first 3620 bytes every open writes, as the file format lays them out.
inline Bytes ExpectedHeader() {
  Bytes h(3620, 0);
  auto put = [&h](int64_t at, int32_t v) { std::memcpy(h.data() + at, &v, 4); };
  put(0, 2);
  put(4, 4);
  std::memcpy(h.data() + 8, "ManufacturerIndex", 17);
  put(52, 2);
  put(56, 1);
  put(60, 20);
  std::memcpy(h.data() + 64, "ManufacturerName", 16);
  put(108, 1);
  put(112, 0);
  const int32_t options[9] = {1, 1, 1, 0, 0, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) put(3584 + 4 * i, options[i]);
  return h;
}

class StoreMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok());
    plat::ClearFaults();
    // The lock-file wait of an open sleeps 321 times; the fake clock makes
    // those sleeps free.
    clock_ = std::make_unique<plat::FakeClock>();
  }

  void TearDown() override {
    clock_.reset();
    plat::ClearFaults();
  }

  static std::string StorePath() { return plat::WindowsDirectory() + "\\system\\VostrelBlog.VDB"; }
  static std::string StoreDir() { return plat::WindowsDirectory() + "\\system"; }
  static std::string NativeStore() { return plat::ToNativePath(StorePath()); }
  std::string LockFolder() const { return root_ + "/e/quillbook"; }
  std::string LockFile() const { return LockFolder() + "/TAsDBc.lf"; }

  // Opens the store at the server's path; code 0 expected.
  void OpenStore(vostrel::TAsDB& db) {
    vostrel::TAsDBResult r = db.Open(StorePath().c_str(), StoreDir().c_str(), 1);
    ASSERT_EQ(r.Code, 0);
  }

  static Bytes ReadFile(const std::string& native) {
    std::ifstream in(native, std::ios::binary | std::ios::ate);
    if (!in) return {};
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
  }

  // Offset of the first byte where two files differ, -1 when equal.
  static int64_t FirstDifference(const Bytes& a, const Bytes& b) {
    if (a == b) return -1;
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
      if (a[i] != b[i]) return static_cast<int64_t>(i);
    return static_cast<int64_t>(n);
  }
  static Bytes StoreBytes() { return ReadFile(NativeStore()); }

  static void WriteFile(const std::string& native, const Bytes& bytes) {
    std::ofstream out(native, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  // Writes into the store file in place; an open store sees it at once
  // (its mapping shares the file's pages).
  static void PokeWord(int64_t offset, int32_t value) {
    std::fstream f(NativeStore(), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(offset);
    f.write(reinterpret_cast<const char*>(&value), sizeof value);
  }

  static vostrel::TAsDBRecord Read(vostrel::TAsDB& db, int32_t first, int32_t last, int32_t index,
                                   int32_t* code = nullptr) {
    vostrel::TAsDBRecord r;
    std::memset(&r, 0x5A, sizeof r);  // ReadRecords must overwrite all of it
    vostrel::TAsDBResult result = db.ReadRecords(&r, first, last, index);
    if (code != nullptr) *code = result.Code;
    return r;
  }

  static bool IsZero(const vostrel::TAsDBRecord& r) {
    const auto* p = reinterpret_cast<const uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i)
      if (p[i] != 0) return false;
    return true;
  }

  // Record bytes without the engine-owned Next field.
  static Bytes Body(const vostrel::TAsDBRecord& r) {
    Bytes b = RecordBytes(r);
    return Bytes(b.begin() + 4, b.end());
  }

  testsupport::ScopedMachine machine_{"store"};
  const std::string root_ = machine_.root();
  std::unique_ptr<plat::FakeClock> clock_;
};

constexpr int64_t kRecords = 4104200;
constexpr int64_t kRecordSize = 10256;
inline int64_t RecordAt(int64_t n) { return kRecords + n * kRecordSize; }

}  // namespace storetest
