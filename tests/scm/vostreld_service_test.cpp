// The real vostreld under the service control manager: started by hand it
// ends at once with exit code 0; as a service it reports RUNNING even when
// its server cannot listen, and a stop ends its process.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "scm/scm_fixture.h"

namespace {

std::string Vostreld() {
  const char* bin = std::getenv("VOSTREL_BIN_DIR");
  return std::string(bin != nullptr ? bin : ".") + "/vostreld";
}

using VostreldService = ScmMachine;

TEST_F(VostreldService, StartedByHandItEndsWithExitCodeZero) {
  unsetenv("VOSTREL_SERVICE_NAME");
  int status = std::system(("'" + Vostreld() + "' </dev/null >/dev/null 2>&1").c_str());
  ASSERT_NE(status, -1);
  EXPECT_EQ((status >> 8) & 0xff, 0);
  EXPECT_EQ(status & 0x7f, 0) << "ended by a signal";
}

TEST_F(VostreldService, RunsAsAServiceAndStopsOnRequest) {
  // Port 65000 is refused by the start-up: the server thread ends, nothing listens.
  std::ofstream(plat::ToNativePath("C:\\WINDOWS\\system\\VostrelWeb.SET"), std::ios::binary)
      << "127.0.0.1\n65000\nC:\\www\\\nsecret\n";
  std::filesystem::create_symlink(Vostreld(), plat::ToNativePath("C:\\WINDOWS\\system\\vostreld.exe"));
  scm::Service s = Create("vostrelserver", "%SystemRoot%\\system\\vostreld.exe", scm::kAutoStart);
  ASSERT_TRUE(scm::StartService(s)) << scm::LastError();
  ASSERT_TRUE(WaitForState(s, scm::kRunning));
  uint32_t pid = 0;
  ASSERT_TRUE(scm::QueryProcessId(s, &pid));

  scm::ServiceStatus st;
  ASSERT_TRUE(scm::QueryStatus(s, &st));
  EXPECT_EQ(st.controlsAccepted, 5u);
  EXPECT_EQ(st.waitHint, 30000u);
  ASSERT_TRUE(scm::SendControl(s, scm::kControlInterrogate, &st));
  EXPECT_EQ(st.currentState, scm::kRunning);

  ASSERT_TRUE(scm::SendControl(s, scm::kControlStop, &st)) << scm::LastError();
  EXPECT_TRUE(st.currentState == scm::kStopPending || st.currentState == scm::kStopped) << st.currentState;
  EXPECT_TRUE(WaitForState(s, scm::kStopped));
  EXPECT_TRUE(WaitProcessGone(pid));
  ASSERT_TRUE(scm::QueryStatus(s, &st));
  EXPECT_EQ(st.win32ExitCode, 0u) << "it reported STOPPED itself";
}

}  // namespace
