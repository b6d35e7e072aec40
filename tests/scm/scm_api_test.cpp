// The service database without running services: the error codes of open,
// create, delete, query and control, and concurrent creates in one process.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "scm/scm_fixture.h"

namespace {

using ScmDatabase = ScmMachine;

TEST_F(ScmDatabase, OpenManagerIsDeniedWhenTheDatabaseCannotBeWritten) {
  // A file where the database folder belongs: nobody, root included, can write there.
  manager_.Close();
  std::filesystem::remove_all(root_ + "/scm");
  std::ofstream(root_ + "/scm") << "not a folder";
  scm::SetLastError(0);
  scm::Manager m = scm::OpenManager();
  EXPECT_FALSE(m);
  EXPECT_EQ(scm::LastError(), scm::kErrAccessDenied);

  scm::Service s = scm::OpenService(m, "anything");
  EXPECT_FALSE(s);
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidHandle);
}

TEST_F(ScmDatabase, OpenManagerCreatesTheDatabaseOnAFreshMachine) {
  std::filesystem::remove_all(root_ + "/scm");
  scm::Manager m = scm::OpenManager();
  ASSERT_TRUE(m);
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/scm"));
}

TEST_F(ScmDatabase, OpenServiceErrors) {
  struct Case {
    std::string name;
    uint32_t error;
  };
  const Case cases[] = {
      {"missing", scm::kErrServiceDoesNotExist},
      {"", scm::kErrInvalidName},
      {"a/b", scm::kErrInvalidName},
      {"a\\b", scm::kErrInvalidName},
      {"..", scm::kErrInvalidName},
      {std::string(scm::kMaxServiceName + 1, 'x'), scm::kErrInvalidName},
  };
  for (const Case& c : cases) {
    scm::SetLastError(0);
    scm::Service s = scm::OpenService(manager_, c.name);
    EXPECT_FALSE(s) << c.name;
    EXPECT_EQ(scm::LastError(), c.error) << c.name;
  }
}

TEST_F(ScmDatabase, CreatedServiceIsFoundWhateverTheCaseAndKeepsItsConfiguration) {
  scm::ServiceConfig c = Config("VostrelServer", kTestServiceBinPath, scm::kAutoStart);
  c.displayName = "Vostrel Web Server";
  ASSERT_TRUE(scm::CreateService(manager_, c));

  scm::Service s = scm::OpenService(manager_, "vostrelserver");
  ASSERT_TRUE(s);
  scm::ServiceConfig got;
  ASSERT_TRUE(scm::QueryConfig(s, &got));
  EXPECT_EQ(got.name, "VostrelServer");
  EXPECT_EQ(got.displayName, "Vostrel Web Server");
  EXPECT_EQ(got.binaryPath, kTestServiceBinPath);
  EXPECT_EQ(got.startType, scm::kAutoStart);
  EXPECT_EQ(got.serviceType, scm::kOwnProcess);
  EXPECT_EQ(got.errorControl, scm::kErrorControlNormal);
  EXPECT_FALSE(got.markedForDelete);
  EXPECT_EQ(scm::ListServices(manager_), std::vector<std::string>{"VostrelServer"});
}

TEST_F(ScmDatabase, CreateErrors) {
  scm::ServiceConfig first = Config("first");
  first.displayName = "First Service";
  ASSERT_TRUE(scm::CreateService(manager_, first));

  struct Case {
    const char* what;
    scm::ServiceConfig config;
    uint32_t error;
  };
  scm::ServiceConfig sameName = Config("FIRST");
  scm::ServiceConfig sameDisplay = Config("second");
  sameDisplay.displayName = "first service";
  scm::ServiceConfig nameIsDisplay = Config("First Service");
  scm::ServiceConfig noBinary = Config("third", "");
  scm::ServiceConfig badStart = Config("fourth");
  badStart.startType = 9;
  scm::ServiceConfig badType = Config("fifth");
  badType.serviceType = 0x20;
  scm::ServiceConfig newline = Config("sixth", "C:\\x.exe\nbinary=C:\\evil.exe");
  const Case cases[] = {
      {"same name in other case", sameName, scm::kErrServiceExists},
      {"display name taken", sameDisplay, scm::kErrDupName},
      {"name is another's display name", nameIsDisplay, scm::kErrDupName},
      {"no binary path", noBinary, scm::kErrInvalidParameter},
      {"start type", badStart, scm::kErrInvalidParameter},
      {"service type", badType, scm::kErrInvalidParameter},
      {"line break in binary path", newline, scm::kErrInvalidParameter},
      {"bad name", Config("x/y"), scm::kErrInvalidName},
  };
  for (const Case& c : cases) {
    scm::SetLastError(0);
    EXPECT_FALSE(scm::CreateService(manager_, c.config)) << c.what;
    EXPECT_EQ(scm::LastError(), c.error) << c.what;
  }
  EXPECT_EQ(scm::ListServices(manager_).size(), 1u);
  scm::Service s = scm::OpenService(manager_, "first");
  scm::ServiceConfig got;
  ASSERT_TRUE(scm::QueryConfig(s, &got));
  EXPECT_EQ(got.displayName, "First Service");
}

TEST_F(ScmDatabase, NeverStartedServiceIsStoppedAndRefusesControls) {
  scm::Service s = Create("idle");
  scm::ServiceStatus st;
  ASSERT_TRUE(scm::QueryStatus(s, &st));
  EXPECT_EQ(st.currentState, scm::kStopped);
  EXPECT_EQ(st.serviceType, scm::kOwnProcess);

  for (uint32_t control : {scm::kControlStop, scm::kControlInterrogate, scm::kControlShutdown}) {
    EXPECT_FALSE(scm::SendControl(s, control, &st)) << control;
    EXPECT_EQ(scm::LastError(), scm::kErrServiceNotActive) << control;
    EXPECT_EQ(st.currentState, scm::kStopped);
  }
  EXPECT_FALSE(scm::SendControl(s, 77, &st));  // neither a system nor a user control
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidParameter);
  uint32_t pid = 1;
  EXPECT_FALSE(scm::QueryProcessId(s, &pid));
}

TEST_F(ScmDatabase, DeleteOfAStoppedServiceRemovesItAtOnce) {
  scm::Service s = Create("gone");
  ASSERT_TRUE(scm::DeleteService(s));
  EXPECT_FALSE(scm::OpenService(manager_, "gone"));
  EXPECT_EQ(scm::LastError(), scm::kErrServiceDoesNotExist);
  EXPECT_TRUE(scm::ListServices(manager_).empty());
  // The name is free again.
  EXPECT_TRUE(scm::CreateService(manager_, Config("gone")));
}

TEST_F(ScmDatabase, EmptyHandlesFailWithInvalidHandle) {
  scm::Service empty;
  scm::ServiceStatus st;
  scm::ServiceConfig c;
  EXPECT_FALSE(scm::QueryStatus(empty, &st));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidHandle);
  EXPECT_FALSE(scm::SendControl(empty, scm::kControlStop, &st));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidHandle);
  EXPECT_FALSE(scm::StartService(empty));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidHandle);
  EXPECT_FALSE(scm::DeleteService(empty));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidHandle);
  EXPECT_FALSE(empty.Close());
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidHandle);

  scm::Service s = Create("closable");
  EXPECT_TRUE(s.Close());
  EXPECT_FALSE(scm::QueryConfig(s, &c));
  EXPECT_EQ(scm::LastError(), scm::kErrInvalidHandle);
}

TEST_F(ScmDatabase, LastErrorBelongsToTheThread) {
  scm::SetLastError(scm::kErrServiceExists);
  std::thread other([] {
    EXPECT_EQ(scm::LastError(), 0u);
    scm::SetLastError(scm::kErrAccessDenied);
  });
  other.join();
  EXPECT_EQ(scm::LastError(), scm::kErrServiceExists);
}

TEST_F(ScmDatabase, ConcurrentCreatesOfOneNameHaveExactlyOneWinner) {
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<uint32_t> errors(kThreads, 999);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      scm::Manager m = scm::OpenManager();
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      scm::Service s = scm::CreateService(m, Config("contested"));
      errors[i] = s ? 0 : scm::LastError();
    });
  }
  for (std::thread& t : threads) t.join();
  int winners = 0;
  for (uint32_t e : errors) {
    if (e == 0) {
      ++winners;
    } else {
      EXPECT_EQ(e, scm::kErrServiceExists);
    }
  }
  EXPECT_EQ(winners, 1);
}

TEST_F(ScmDatabase, StartOfAMissingProgramFailsWithFileNotFound) {
  scm::Service s = Create("nofile", "%SystemRoot%\\system\\nothere.exe");
  EXPECT_FALSE(scm::StartService(s));
  EXPECT_EQ(scm::LastError(), scm::kErrFileNotFound);
  EXPECT_EQ(State(s), scm::kStopped);
}

}  // namespace
