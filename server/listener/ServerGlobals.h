// Server-wide values: the configuration (written once at start-up, read-only
// afterwards), the locks, the journal store and the run flag.
#pragma once
#include <atomic>
#include <cstdint>

namespace plat { class Mutex; }

namespace vostrel {

class TAsDB;

constexpr int kConfigAddressSize = 20;
constexpr int kConfigPortSize = 10;
constexpr int kConfigRootSize = 256;
constexpr int kConfigPasswordSize = 256;

extern char ConfigAddress[kConfigAddressSize];
extern char ConfigPort[kConfigPortSize];
extern char ConfigRoot[kConfigRootSize];
extern char ConfigPassword[kConfigPasswordSize];

extern plat::Mutex* ServerLock;     // created by ServiceMain before webmain starts
extern plat::Mutex* JournalLock;    // null when the store did not open
extern TAsDB* JournalStore;         // created by webmain, closed by ServiceMain
extern std::atomic<int32_t> ServerRunning;  // 1 = keep accepting
// Workers that copied JournalStore into their processor and have not yet
// deleted it; the service stop deletes the store only once this is 0.
extern std::atomic<int32_t> StoreUsers;

constexpr char kJournalLockName[] = "qlpyhpidZrumo360xRzgjtmBbv";
constexpr char kListenerMutexName[] = "ltorvaneSimpleWebServerx100xUniqueKey";

}  // namespace vostrel
