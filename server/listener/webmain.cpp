// The server thread: start-up (banner, journal store, configuration, status
// file, listening socket), then the accept loop and its shutdown.
#include "server/listener/webmain.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/locks/locks.h"
#include "platform/sockets/sockets.h"
#include "platform/threads/threads.h"
#include "server/listener/Listener.h"
#include "server/listener/ProcessRequest.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"
#include "server/listener/Startup.h"
#include "server/stats/Unittmanager.h"
#include "server/store/TAsDB.h"

namespace vostrel {

namespace {

constexpr int kStoreOpenMode = 1;
constexpr uint32_t kLockWaitMs = 10000;

// Owned by the server thread; held here rather than on its stack so that a
// thread ending early (refused port) leaves nothing unreachable.
TManager* StatusManager = nullptr;

// Named mutexes live for the whole process: workers may hold the journal lock
// at any time, so nothing may destroy it at exit.
std::shared_ptr<plat::Mutex>* const JournalLockHolder = new std::shared_ptr<plat::Mutex>;
std::shared_ptr<plat::Mutex>* const ListenerMutexHolder = new std::shared_ptr<plat::Mutex>;

void OpenJournalStore() {
  const std::string storePath = SystemPath(kStoreFileName, kWindowsDirSize);
  const std::string storeDir = SystemPath(kStoreDirName, kWindowsDirSize);
  JournalStore = new TAsDB;
  const TAsDBResult result =
      JournalStore->Open(storePath.c_str(), storeDir.c_str(), kStoreOpenMode);
  if (result.Code == 0) {
    *JournalLockHolder = plat::CreateNamedMutex(kJournalLockName);
    JournalLock = JournalLockHolder->get();
  } else {
    // A store that did not open is kept all the same; the journal runs without a lock.
    JournalLock = nullptr;
  }
}

void StartStatusFile() {
  const std::string statusPath = SystemPath(kStatusFileName, kStatusPathSize);
  plat::DeleteFile(statusPath);
  delete StatusManager;  // only a second run in one process (tests) finds one
  StatusManager = new TManager;
  StatusManager->OpenStatusFile(statusPath.c_str());
  StatusManager->ServerLock = ServerLock;
  StatusManager->Record.Port = static_cast<int32_t>(std::atol(ConfigPort));
  std::memcpy(StatusManager->Record.Address, ConfigAddress, kStatusAddressSize);
  std::strcpy(StatusManager->Record.LastRequest, kStatusStartText);
  StatusManager->WriteStatus();
}

void LogPeer(const plat::net::PeerAddress& peer) {
  char text[kPeerTextSize] = {};
  uint32_t length = kPeerTextLimit;
  plat::net::AddressToString(peer, text, &length);
  std::strcat(text, kAccessedText);
  ServerLog(text, false);
}

void UpdateStatusRecord(const char* peeked, int n, const ListenerCounters& counters, int32_t port) {
  TManager& m = *StatusManager;
  m.UpdateMinutes();
  m.ClearRequestInfo();
  m.CountRequest(peeked, n);
  m.Record.Responses = counters.Accepted;
  m.Record.HighLoads = counters.HeavyLoads;
  if (port > 0) m.Record.Port = port;
  m.SetAddress(ConfigAddress);
  m.WriteStatus();
}

// The stop takes the store out of reach (JournalStore := null) under the
// server lock before it closes and deletes it; closing it here under the same
// lock therefore never touches a deleted store.
void CloseJournalStore() {
  StoreUsers.fetch_add(1);
  if (ServerLock != nullptr && ServerLock->Wait(kLockWaitMs) == plat::WaitResult::Acquired) {
    if (JournalStore != nullptr) JournalStore->Close(0);
    ServerLock->Release();
  }
  StoreUsers.fetch_sub(1);
}

void Shutdown() {
  plat::net::Cleanup();
  CloseJournalStore();
  delete StatusManager;
  StatusManager = nullptr;
}

void AcceptLoop(plat::net::Socket listening, int32_t port) {
  *ListenerMutexHolder = plat::CreateNamedMutex(kListenerMutexName);
  std::vector<char> peekBuffer(kPeekBufferSize, '\0');
  ListenerCounters counters;
  int index = kRingFirst;
  for (;;) {
    if (index >= kSocketRingSize) index = kRingFirst;
    // Looked at only between connections: a stop during accept ends the
    // process from the service thread, which never waits for this one.
    if (ServerRunning.load() != 1) break;
    SocketRing[index] = 0;
    plat::net::PeerAddress peer{};
    SocketRing[index] = plat::net::Accept(listening, &peer);
    LogPeer(peer);
    if (RecordAccept(counters, plat::GetTickCount())) {
      LogStatusLine(counters.Accepted, counters.HeavyLoads, counters.AverageMs);
    }
    int n = 0;
    const plat::net::Socket entry = SocketRing[index];
    if (entry != 0 && entry != plat::net::kInvalidSocket) {
      n = plat::net::RecvTimeout(entry, peekBuffer.data(), kPeekBufferSize, plat::net::kMsgPeek,
                                 kStatsPeekTimeoutMs);
    }
    if (n >= kCountedRequestMin) UpdateStatusRecord(peekBuffer.data(), n, counters, port);
    DispatchConnection(index, counters, ProcessRequest);
    index += 1;
    plat::Sleep(kAcceptPauseMs);
  }
  (*ListenerMutexHolder)->Release();
}

}  // namespace

uint32_t webmain(void*) {
  try {
    WriteBanner();
    ClearListenerTables();
    OpenJournalStore();
    ReadConfiguration(SystemPath(kConfigFileName, kWindowsDirSize));
    plat::MakeDirectory(ConfigRoot);
    StartStatusFile();

    plat::net::Startup();
    const plat::net::Socket listening = plat::net::CreateTcpSocket();
    if (listening == plat::net::kInvalidSocket) return 0;
    int32_t port = 0;
    if (!ParseListenPort(ConfigPort, &port)) return 0;

    if (plat::net::Bind(listening, ConfigAddress, static_cast<uint16_t>(port)) != 0) {
      ServerLog(kBadAddressText, false);
    } else if (plat::net::Listen(listening, kListenBacklog) != 0) {
      ServerLog(kBadPortText, false);
    } else {
      AcceptLoop(listening, port);
    }
    Shutdown();
  } catch (...) {
    ServerLog(kWebmainErrorText, true);
  }
  return 0;
}

}  // namespace vostrel
