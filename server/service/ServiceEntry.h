// The service entry of vostreld: the service's main procedure, its control
// handler and its status reports.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/locks/locks.h"
#include "platform/threads/threads.h"

namespace vostrel {

constexpr uint32_t kServiceWaitHintMs = 30000;  // every report's wait hint
constexpr uint32_t kStopPollMs = 1000;          // slices of the wait for the stop event
constexpr int kRunFlagPasses = 100;
constexpr uint32_t kRunFlagLockWaitMs = 500;
constexpr uint32_t kServerLockWaitMs = 10000;
constexpr uint32_t kStoreUsersWaitMs = 15000;   // how long the stop waits for workers to let go of the store
constexpr uint32_t kStoreUsersPollMs = 10;

// Set by a stop or shutdown control. Shared so that the handler, which runs
// on the dispatcher's thread, never sets an event the service thread has
// just closed; an empty pointer is a closed event.
extern std::atomic<std::shared_ptr<plat::Event>> StopEvent;

// The procedure of the server thread; webmain in vostreld (tests put their own).
extern plat::ThreadProc ServerThread;

void ServiceMain(uint32_t argc, char** argv);
void ServiceCtrlHandler(uint32_t control);
bool ReportServiceStatus(uint32_t state, uint32_t waitHint);
void IssueStopEvent();
void ServiceNote(const char* text);

}  // namespace vostrel
