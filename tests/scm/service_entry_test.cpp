// vostreld's service entry driven in-process through the real dispatcher,
// with a server thread of the test's own in place of webmain: the reports a
// stop produces, controls that produce none, the run flag and the store.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "scm/scm_fixture.h"
#include "server/listener/ServerGlobals.h"
#include "server/service/ServiceEntry.h"
#include "server/store/TAsDB.h"

namespace {

std::mutex reportsMutex;
std::vector<scm::ServiceStatus> reports;
std::atomic<int> serverThreadRuns{0};

void RecordReport(const scm::ServiceStatus& s) {
  std::lock_guard<std::mutex> lock(reportsMutex);
  reports.push_back(s);
}

std::vector<scm::ServiceStatus> Reports() {
  std::lock_guard<std::mutex> lock(reportsMutex);
  return reports;
}

// Like a server thread whose start-up fails at once (port 0).
uint32_t EndAtOnce(void*) {
  serverThreadRuns.fetch_add(1);
  return 0;
}

class ServiceEntry : public ScmMachine {
 protected:
  void SetUp() override {
    ScmMachine::SetUp();
    service_ = Create("vostrelserver", "%SystemRoot%\\system\\vostreld.exe", scm::kAutoStart);
    {
      std::lock_guard<std::mutex> lock(reportsMutex);
      reports.clear();
    }
    scm::SetStatusObserver(RecordReport);
    serverThreadRuns = 0;
    vostrel::ServerThread = EndAtOnce;
    vostrel::ServerRunning = 1;
  }

  void TearDown() override {
    if (dispatcher_.joinable()) {
      scm::ServiceStatus st;
      scm::SendControl(service_, scm::kControlStop, &st);
      dispatcher_.join();
    }
    scm::SetStatusObserver(nullptr);
    vostrel::ServerRunning = 1;
    ScmMachine::TearDown();
  }

  // Runs the dispatcher as vostreld's main does, on a thread of the test.
  void StartDispatcher() {
    setenv("VOSTREL_SERVICE_NAME", "vostrelserver", 1);
    dispatched_ = false;
    dispatcher_ = std::thread([this] {
      const scm::DispatchEntry table[] = {{"", vostrel::ServiceMain}, {nullptr, nullptr}};
      dispatched_ = scm::RunDispatcher(table);
    });
    ASSERT_TRUE(WaitForState(service_, scm::kRunning));
  }

  scm::Service service_;
  std::thread dispatcher_;
  std::atomic<bool> dispatched_{false};
};

void ExpectReport(const scm::ServiceStatus& s, uint32_t state) {
  EXPECT_EQ(s.currentState, state);
  EXPECT_EQ(s.serviceType, scm::kOwnProcess);
  EXPECT_EQ(s.controlsAccepted, 5u);
  EXPECT_EQ(s.waitHint, 30000u);
  EXPECT_EQ(s.win32ExitCode, 0u);
  EXPECT_EQ(s.serviceSpecificExitCode, 0u);
  EXPECT_EQ(s.checkPoint, 0u);
}

TEST_F(ServiceEntry, StopAndShutdownReportStopPendingThenStopped) {
  for (uint32_t control : {scm::kControlStop, scm::kControlShutdown}) {
    SCOPED_TRACE(control);
    {
      std::lock_guard<std::mutex> lock(reportsMutex);
      reports.clear();
    }
    vostrel::ServerRunning = 1;
    StartDispatcher();
    std::vector<scm::ServiceStatus> r = Reports();
    ASSERT_EQ(r.size(), 1u) << "RUNNING at once, never START_PENDING";
    ExpectReport(r[0], scm::kRunning);

    scm::ServiceStatus st;
    ASSERT_TRUE(scm::SendControl(service_, control, &st)) << scm::LastError();
    dispatcher_.join();
    EXPECT_TRUE(dispatched_);

    r = Reports();
    ASSERT_EQ(r.size(), 3u);
    ExpectReport(r[1], scm::kStopPending);
    ExpectReport(r[2], scm::kStopped);
    EXPECT_EQ(vostrel::ServerRunning.load(), 0);
    EXPECT_EQ(vostrel::StopEvent.load(), nullptr) << "closed at the stop";
    EXPECT_EQ(State(service_), scm::kStopped);
  }
  // The server thread ended at once both times; the service ran regardless.
  EXPECT_EQ(serverThreadRuns.load(), 2);
}

TEST_F(ServiceEntry, InterrogateAndOtherControlsProduceNoReport) {
  StartDispatcher();
  scm::ServiceStatus st;
  ASSERT_TRUE(scm::SendControl(service_, scm::kControlInterrogate, &st));
  EXPECT_EQ(st.currentState, scm::kRunning);
  ASSERT_TRUE(scm::SendControl(service_, 130, &st));  // a service-defined code reaches the handler
  EXPECT_FALSE(scm::SendControl(service_, scm::kControlPause, &st));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidServiceControl);
  EXPECT_FALSE(scm::SendControl(service_, scm::kControlContinue, &st));
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_EQ(vostrel::ServerRunning.load(), 1);
  EXPECT_EQ(State(service_), scm::kRunning);
}

TEST_F(ServiceEntry, StopClosesTheStoreAndDeletesItOnlyOnceWorkersLetGo) {
  vostrel::JournalStore = new vostrel::TAsDB;
  vostrel::StoreUsers = 1;  // a worker still holds the store
  StartDispatcher();
  scm::ServiceStatus st;
  ASSERT_TRUE(scm::SendControl(service_, scm::kControlStop, &st));
  // While the worker holds it, the stop does not get past the store.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<scm::ServiceStatus> r = Reports();
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r.back().currentState, scm::kStopPending);
  vostrel::StoreUsers = 0;
  dispatcher_.join();
  r = Reports();
  EXPECT_EQ(r.back().currentState, scm::kStopped);
  // Taken out of reach of workers; freed (a leak would fail the sanitizer build).
  EXPECT_EQ(vostrel::JournalStore, nullptr);
}

}  // namespace
