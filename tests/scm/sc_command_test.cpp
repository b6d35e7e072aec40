// The vostrel-sc command: its sc-like syntax, its output, its failures, the
// machine start ("boot"), and two processes creating one service at once.
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "scm/scm_fixture.h"

namespace {

struct Result {
  int exitCode = -1;
  std::string output;
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

std::string ScCommand(const std::vector<std::string>& args) {
  const char* bin = std::getenv("VOSTREL_BIN_DIR");
  std::string cmd = Quote(std::string(bin != nullptr ? bin : ".") + "/vostrel-sc");
  for (const std::string& a : args) cmd += " " + Quote(a);
  return cmd;
}

class ScCommandLine : public ScmMachine {
 protected:
  Result Sc(const std::vector<std::string>& args) {
    std::string out = root_ + "/sc-output.txt";
    int status = std::system((ScCommand(args) + " >" + Quote(out) + " 2>&1").c_str());
    Result r;
    r.exitCode = status == -1 ? -1 : (status >> 8) & 0xff;
    r.output = testsupport::ReadWholeFile(out);
    return r;
  }

  static bool ShowsState(const std::string& output, int code, const char* name) {
    std::regex line("STATE *: *" + std::to_string(code) + " +" + name + "\\b");
    return std::regex_search(output, line);
  }
};

TEST_F(ScCommandLine, ServiceLifeFromCreateToDelete) {
  Result r = Sc({"create", "websvc", "binPath=", kTestServiceBinPath, "start=", "auto", "DisplayName=",
                 "Web Service"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("[SC] CreateService SUCCESS"), std::string::npos) << r.output;

  r = Sc({"qc", "websvc"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("AUTO_START"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(kTestServiceBinPath), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Web Service"), std::string::npos) << r.output;

  r = Sc({"query", "websvc"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(ShowsState(r.output, 1, "STOPPED")) << r.output;

  r = Sc({"start", "websvc"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  r = Sc({"wait", "websvc", "running", "20"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  r = Sc({"query", "WEBSVC"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(ShowsState(r.output, 4, "RUNNING")) << r.output;

  r = Sc({"stop", "websvc"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(ShowsState(r.output, 3, "STOP_PENDING") || ShowsState(r.output, 1, "STOPPED")) << r.output;
  r = Sc({"wait", "websvc", "stopped", "20"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(ShowsState(r.output, 1, "STOPPED")) << r.output;

  r = Sc({"delete", "websvc"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("[SC] DeleteService SUCCESS"), std::string::npos) << r.output;
  r = Sc({"query", "websvc"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("FAILED 1060"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("The specified service does not exist as an installed service."),
            std::string::npos)
      << r.output;
}

TEST_F(ScCommandLine, FailuresPrintTheCodeAndExitNonZero) {
  ASSERT_EQ(Sc({"create", "dup", "binPath=", kTestServiceBinPath}).exitCode, 0);
  struct Case {
    std::vector<std::string> args;
    const char* expected;
  };
  const Case cases[] = {
      {{"create", "dup", "binPath=", kTestServiceBinPath}, "FAILED 1073"},
      {{"start", "nosuch"}, "FAILED 1060"},
      {{"stop", "dup"}, "FAILED 1062"},
      {{"create", "bad/name", "binPath=", kTestServiceBinPath}, "FAILED 123"},
  };
  for (const Case& c : cases) {
    Result r = Sc(c.args);
    EXPECT_NE(r.exitCode, 0) << c.args[0];
    EXPECT_NE(r.output.find(c.expected), std::string::npos) << r.output;
  }
  // Usage errors: unknown command, missing binPath, unknown start type.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"frobnicate", "x"},
                                             {"create", "x"},
                                             {"create", "x", "binPath=", "C:\\a.exe", "start=", "soon"}}) {
    Result r = Sc(args);
    EXPECT_NE(r.exitCode, 0) << args[0];
    EXPECT_NE(r.output.find("Usage"), std::string::npos) << r.output;
  }
}

TEST_F(ScCommandLine, BootStartsTheAutomaticServicesOnly) {
  ASSERT_EQ(Sc({"create", "auto1", "binPath=", kTestServiceBinPath, "start=", "auto"}).exitCode, 0);
  ASSERT_EQ(Sc({"create", "auto2", "binPath=", kTestServiceBinPath, "start=", "auto"}).exitCode, 0);
  ASSERT_EQ(Sc({"create", "manual", "binPath=", kTestServiceBinPath, "start=", "demand"}).exitCode, 0);
  Result r = Sc({"boot"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const char* name : {"auto1", "auto2"}) {
    scm::Service s = scm::OpenService(manager_, name);
    EXPECT_TRUE(WaitForState(s, scm::kRunning)) << name;
  }
  EXPECT_EQ(State(scm::OpenService(manager_, "manual")), scm::kStopped);
  // Booting again leaves running services alone.
  r = Sc({"boot"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST_F(ScCommandLine, TwoProcessesCreatingOneServiceAtOnceHaveOneWinner) {
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    const std::string name = "both" + std::to_string(round);
    const std::string a = root_ + "/a.txt";
    const std::string b = root_ + "/b.txt";
    const std::string create = ScCommand({"create", name, "binPath=", kTestServiceBinPath});
    std::string both = "(" + create + " >" + Quote(a) + " 2>&1 & " + create + " >" + Quote(b) + " 2>&1 & wait)";
    ASSERT_EQ(std::system(both.c_str()), 0);
    const std::string outA = testsupport::ReadWholeFile(a);
    const std::string outB = testsupport::ReadWholeFile(b);
    const bool aWon = outA.find("SUCCESS") != std::string::npos;
    const bool bWon = outB.find("SUCCESS") != std::string::npos;
    EXPECT_NE(aWon, bWon) << outA << "\n" << outB;
    EXPECT_NE((aWon ? outB : outA).find("FAILED 1073"), std::string::npos) << outA << "\n" << outB;
  }
  EXPECT_EQ(scm::ListServices(manager_).size(), static_cast<std::size_t>(kRounds));
}

}  // namespace
