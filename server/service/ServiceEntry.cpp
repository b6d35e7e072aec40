// The service entry of vostreld: ServiceMain starts the server thread and
// waits for a stop; the control handler turns stop and shutdown into the
// stop event; every state change is reported to the service control manager.
#include "server/service/ServiceEntry.h"

#include <chrono>
#include <thread>

#include "platform/scm/scm.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/webmain.h"
#include "server/store/TAsDB.h"

namespace vostrel {

std::atomic<std::shared_ptr<plat::Event>> StopEvent;
plat::ThreadProc ServerThread = webmain;

namespace {

constexpr char kNoteStarting[] = "Starting Vostrel Web Server ...";
constexpr char kNoteStopping[] = "Stopping Vostrel Web Server ...";
constexpr char kNoteStopIssued[] = "Stop event issued for Vostrel Web Server ... ";

plat::scm::StatusHandle StatusHandle;

bool SetStopEvent() {
  std::shared_ptr<plat::Event> event = StopEvent.load();
  return event != nullptr && event->Set();
}

// CloseHandle on the event: fails when it is already closed.
bool CloseStopEvent() { return StopEvent.exchange(nullptr) != nullptr; }

void ClearRunFlag() {
  for (int pass = 0; pass < kRunFlagPasses; ++pass) {
    if (ServerLock->Wait(kRunFlagLockWaitMs) == plat::WaitResult::Acquired) {
      ServerRunning = 0;
      ServerLock->Release();
    }
  }
}

// The store is taken out of reach under the server lock, so no worker can
// pick it up afterwards; workers that already hold it keep it alive (it
// refuses work once closed) until they let go, and only then is it deleted.
// One that never lets go keeps it until the process ends.
void CloseJournalStore() {
  TAsDB* store = nullptr;
  if (ServerLock->Wait(kServerLockWaitMs) != plat::WaitResult::Acquired) return;
  store = JournalStore;
  JournalStore = nullptr;
  ServerLock->Release();
  if (store == nullptr) return;
  store->Close(0);
  // Real time, not the replaceable clock: this bounds a wait for other threads.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStoreUsersWaitMs);
  while (StoreUsers.load() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kStoreUsersPollMs));
  }
  if (StoreUsers.load() == 0) delete store;
}

}  // namespace

void ServiceNote(const char* /*text*/) {
  // Progress notes are deliberately not recorded anywhere.
}

bool ReportServiceStatus(uint32_t state, uint32_t waitHint) {
  plat::scm::ServiceStatus status;
  status.serviceType = plat::scm::kOwnProcess;
  status.currentState = state;
  status.controlsAccepted =
      state == plat::scm::kStartPending ? 0 : plat::scm::kAcceptStop | plat::scm::kAcceptShutdown;
  status.win32ExitCode = 0;
  status.serviceSpecificExitCode = 0;
  status.checkPoint = 0;
  status.waitHint = waitHint;
  return plat::scm::SetStatus(StatusHandle, status);
}

void IssueStopEvent() {
  SetStopEvent();
  ReportServiceStatus(plat::scm::kStopped, kServiceWaitHintMs);
  ServiceNote(kNoteStopIssued);
}

void ServiceCtrlHandler(uint32_t control) {
  if (control != plat::scm::kControlStop && control != plat::scm::kControlShutdown) return;
  ReportServiceStatus(plat::scm::kStopPending, kServiceWaitHintMs);
  if (!SetStopEvent()) IssueStopEvent();
}

void ServiceMain(uint32_t argc, char** argv) {
  StatusHandle = plat::scm::RegisterHandler(argc > 0 ? argv[0] : "", ServiceCtrlHandler);
  StopEvent.store(std::make_shared<plat::Event>(true, false));
  ReportServiceStatus(plat::scm::kRunning, kServiceWaitHintMs);
  ServiceNote(kNoteStarting);
  // Once per process: workers may still hold the lock until the process ends.
  if (ServerLock == nullptr) ServerLock = new plat::Mutex;
  plat::Thread server = plat::Thread::Start(ServerThread, nullptr);
  server.Close();  // never joined

  for (;;) {
    std::shared_ptr<plat::Event> event = StopEvent.load();
    if (event == nullptr || event->Wait(kStopPollMs)) break;
  }
  if (!CloseStopEvent()) IssueStopEvent();
  ClearRunFlag();
  CloseJournalStore();
  ServiceNote(kNoteStopping);
  ReportServiceStatus(plat::scm::kStopped, kServiceWaitHintMs);
}

}  // namespace vostrel
