// Storage of the server-wide values.
#include "server/listener/ServerGlobals.h"

namespace vostrel {

char ConfigAddress[kConfigAddressSize] = {};
char ConfigPort[kConfigPortSize] = {};
char ConfigRoot[kConfigRootSize] = {};
char ConfigPassword[kConfigPasswordSize] = {};

plat::Mutex* ServerLock = nullptr;
plat::Mutex* JournalLock = nullptr;
TAsDB* JournalStore = nullptr;
std::atomic<int32_t> ServerRunning{1};
std::atomic<int32_t> StoreUsers{0};

}  // namespace vostrel
