// The service control manager with real service processes (the test
// service program): start, controls, status, deletion while running, a
// killed service, programs that never connect, concurrent starts.
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "scm/scm_fixture.h"

namespace {

constexpr uint32_t kControlWhichThread = 200;

using ScmProcess = ScmMachine;

TEST_F(ScmProcess, StartRunsTheProgramUntilStopped) {
  scm::Service s = Create("plain");
  ASSERT_TRUE(scm::StartService(s)) << scm::LastError();
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  uint32_t pid = 0;
  ASSERT_TRUE(scm::QueryProcessId(s, &pid));
  EXPECT_TRUE(plat::ProcessAlive(pid));
  EXPECT_NE(pid, plat::CurrentProcessId());

  scm::ServiceStatus st;
  ASSERT_TRUE(scm::QueryStatus(s, &st));
  EXPECT_EQ(st.controlsAccepted, scm::kAcceptStop | scm::kAcceptShutdown);

  EXPECT_FALSE(scm::StartService(s));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceAlreadyRunning);

  // The control returns after the handler ran: its STOP_PENDING report (or
  // the STOPPED that follows it) is what comes back.
  ASSERT_TRUE(scm::SendControl(s, scm::kControlStop, &st)) << scm::LastError();
  EXPECT_TRUE(st.currentState == scm::kStopPending || st.currentState == scm::kStopped) << st.currentState;
  EXPECT_TRUE(WaitForState(s, scm::kStopped));
  EXPECT_TRUE(WaitProcessGone(pid));
  ASSERT_TRUE(scm::QueryStatus(s, &st));
  EXPECT_EQ(st.win32ExitCode, 0u);

  // And it starts again.
  ASSERT_TRUE(scm::StartService(s)) << scm::LastError();
  EXPECT_TRUE(WaitForState(s, scm::kRunning));
}

TEST_F(ScmProcess, ServiceRunsInTheSystemFolderWithTheMachineEnvironment) {
  scm::Service s = Create("report1");
  ASSERT_TRUE(scm::StartService(s)) << scm::LastError();
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  std::string info = ReadWindowsFile("C:\\report1.info");
  EXPECT_NE(info.find("cwd=C:\\WINDOWS\\system32\n"), std::string::npos) << info;
  EXPECT_NE(info.find("argv0=report1\n"), std::string::npos) << info;
  EXPECT_NE(info.find("machine=" + root_ + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("systemroot=C:\\WINDOWS\n"), std::string::npos) << info;
  // The marker is taken out, so programs the service starts are not mistaken for it.
  EXPECT_NE(info.find("marker=(unset)\n"), std::string::npos) << info;
}

TEST_F(ScmProcess, ControlsRunOnTheDispatchersThreadAndReturnTheStatusThen) {
  scm::Service s = Create("threads");
  ASSERT_TRUE(scm::StartService(s));
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  scm::ServiceStatus st;
  ASSERT_TRUE(scm::SendControl(s, kControlWhichThread, &st)) << scm::LastError();
  EXPECT_EQ(st.currentState, scm::kRunning);
  EXPECT_EQ(st.checkPoint, 1u);  // 1: the handler ran on the program's main thread

  ASSERT_TRUE(scm::SendControl(s, scm::kControlInterrogate, &st));
  EXPECT_EQ(st.checkPoint, 1u);
}

TEST_F(ScmProcess, ControlsTheServiceDoesNotAcceptAreRefused) {
  scm::Service s = Create("nostop");
  ASSERT_TRUE(scm::StartService(s));
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  scm::ServiceStatus st;
  EXPECT_FALSE(scm::SendControl(s, scm::kControlStop, &st));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidServiceControl);
  EXPECT_FALSE(scm::SendControl(s, scm::kControlPause, &st));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidServiceControl);
  EXPECT_EQ(st.currentState, scm::kRunning);
  EXPECT_TRUE(scm::SendControl(s, scm::kControlInterrogate, &st));

  ASSERT_TRUE(scm::SendControl(s, scm::kControlShutdown, &st));
  EXPECT_TRUE(WaitForState(s, scm::kStopped));
}

TEST_F(ScmProcess, ControlsWhileAStopIsPendingAreRefusedButInterrogateIsAnswered) {
  scm::Service s = Create("slowstop");
  ASSERT_TRUE(scm::StartService(s));
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  scm::ServiceStatus st;
  ASSERT_TRUE(scm::SendControl(s, scm::kControlStop, &st));
  EXPECT_EQ(st.currentState, scm::kStopPending);
  EXPECT_FALSE(scm::SendControl(s, scm::kControlStop, &st));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceCannotAcceptControl);
  ASSERT_TRUE(scm::SendControl(s, scm::kControlInterrogate, &st));
  EXPECT_EQ(st.currentState, scm::kStopPending);
  EXPECT_FALSE(scm::SendControl(s, kControlWhichThread, &st)) << "not even the service's own codes";
  EXPECT_EQ(scm::LastError(), scm::kErrServiceCannotAcceptControl);
  std::ofstream(plat::ToNativePath("C:\\slowstop.finish")) << "done";
  EXPECT_TRUE(WaitForState(s, scm::kStopped));
}

TEST_F(ScmProcess, DeleteWhileRunningRemovesTheEntryOnlyAfterTheStop) {
  scm::Service s = Create("doomed");
  ASSERT_TRUE(scm::StartService(s));
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  ASSERT_TRUE(scm::DeleteService(s));

  scm::Service again = scm::OpenService(manager_, "doomed");
  ASSERT_TRUE(again) << "still there while it runs";
  scm::ServiceConfig c;
  ASSERT_TRUE(scm::QueryConfig(again, &c));
  EXPECT_TRUE(c.markedForDelete);
  EXPECT_FALSE(scm::DeleteService(again));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceMarkedForDelete);
  EXPECT_FALSE(scm::CreateService(manager_, Config("doomed")));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceMarkedForDelete);
  EXPECT_EQ(State(s), scm::kRunning);

  scm::ServiceStatus st;
  ASSERT_TRUE(scm::SendControl(s, scm::kControlStop, &st));
  ASSERT_TRUE(WaitForState(s, scm::kStopped));
  EXPECT_FALSE(scm::OpenService(manager_, "doomed"));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceDoesNotExist);
  EXPECT_FALSE(scm::StartService(s));
  EXPECT_TRUE(scm::CreateService(manager_, Config("doomed")));
}

TEST_F(ScmProcess, KilledServiceReadsAsStoppedAndStartsAgain) {
  scm::Service s = Create("victim");
  ASSERT_TRUE(scm::StartService(s));
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  uint32_t pid = 0;
  ASSERT_TRUE(scm::QueryProcessId(s, &pid));
  ASSERT_TRUE(plat::KillProcess(pid));
  ASSERT_TRUE(WaitProcessGone(pid));

  scm::ServiceStatus st;
  ASSERT_TRUE(scm::QueryStatus(s, &st));
  EXPECT_EQ(st.currentState, scm::kStopped);
  EXPECT_EQ(st.win32ExitCode, scm::kErrProcessAborted);
  EXPECT_FALSE(scm::SendControl(s, scm::kControlStop, &st));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceNotActive);

  ASSERT_TRUE(scm::StartService(s)) << scm::LastError();
  EXPECT_TRUE(WaitForState(s, scm::kRunning));
}

TEST_F(ScmProcess, KilledServiceMarkedForDeletionGoes) {
  scm::Service s = Create("crashdelete");
  ASSERT_TRUE(scm::StartService(s));
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  uint32_t pid = 0;
  ASSERT_TRUE(scm::QueryProcessId(s, &pid));
  ASSERT_TRUE(scm::DeleteService(s));
  ASSERT_TRUE(plat::KillProcess(pid));
  ASSERT_TRUE(WaitProcessGone(pid));
  EXPECT_FALSE(scm::OpenService(manager_, "crashdelete"));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceDoesNotExist);
}

TEST_F(ScmProcess, ControlsReachAServiceOnAMachineWithAVeryLongPath) {
  // Longer than a unix socket address can hold.
  const std::string deep = root_ + "/" + std::string(120, 'm');
  setenv("VOSTREL_MACHINE", deep.c_str(), 1);
  ASSERT_TRUE(plat::EnsureMachineLayout());
  std::filesystem::create_symlink(SCM_TEST_SERVICE, plat::ToNativePath(kTestServicePath));
  manager_ = scm::OpenManager();
  ASSERT_TRUE(manager_);
  scm::Service s = Create("faraway");
  ASSERT_TRUE(scm::StartService(s)) << scm::LastError();
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  scm::ServiceStatus st;
  ASSERT_TRUE(scm::SendControl(s, scm::kControlStop, &st)) << scm::LastError();
  EXPECT_TRUE(WaitForState(s, scm::kStopped));
}

TEST_F(ScmProcess, ServiceWhoseMainReturnsWithoutReportingReadsAsStopped) {
  scm::Service s = Create("quitter");
  ASSERT_TRUE(scm::StartService(s)) << scm::LastError();
  EXPECT_TRUE(WaitForState(s, scm::kStopped));
}

TEST_F(ScmProcess, ProgramThatEndsWithoutConnectingFailsTheStart) {
  scm::Service s = Create("ender", "\"%SystemRoot%\\system\\scmtestsvc.exe\" exit");
  EXPECT_FALSE(scm::StartService(s));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceRequestTimeout);
  EXPECT_EQ(State(s), scm::kStopped);
}

TEST_F(ScmProcess, ProgramThatNeverConnectsIsKilledWhenTheStartTimesOut) {
  scm::SetStartTimeout(1500);
  scm::Service s = Create("hang", "\"%SystemRoot%\\system\\scmtestsvc.exe\" notservice");
  EXPECT_FALSE(scm::StartService(s));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceRequestTimeout);
  std::string pidText = ReadWindowsFile("C:\\notservice.pid");
  ASSERT_FALSE(pidText.empty()) << "the program did run";
  uint32_t pid = static_cast<uint32_t>(std::stoul(pidText));
  extraPids_.push_back(pid);
  EXPECT_TRUE(WaitProcessGone(pid));
  EXPECT_EQ(State(s), scm::kStopped);
}

TEST_F(ScmProcess, ConcurrentStartsStartOneProcess) {
  scm::Service s = Create("racer");
  constexpr int kThreads = 4;
  std::vector<uint32_t> errors(kThreads, 999);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      scm::Manager m = scm::OpenManager();
      scm::Service mine = scm::OpenService(m, "racer");
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      errors[i] = scm::StartService(mine) ? 0 : scm::LastError();
    });
  }
  for (std::thread& t : threads) t.join();
  int started = 0;
  for (uint32_t e : errors) {
    if (e == 0) {
      ++started;
    } else {
      EXPECT_EQ(e, scm::kErrServiceAlreadyRunning);
    }
  }
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(WaitForState(s, scm::kRunning));
}

}  // namespace
