// vostreld as a service on a temporary machine, driven by curl and raw
// loopback clients: files, errors, log, status file, load, stop and crash.
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "e2e_fixture.h"

namespace {

constexpr char kIndexText[] = "<HTML><BODY>Vostrel end-to-end index page</BODY></HTML>\r\n";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

using ServerE2e = ServerMachine;

TEST_F(ServerE2e, ServesFilesErrorsAndKeepsLogAndStatus) {
  const uint16_t port = FreePort();
  ASSERT_NE(port, 0);
  WriteWindowsFile(std::string(kDocumentRoot) + "index.htm", kIndexText);
  WriteWindowsFile(std::string(kDocumentRoot) + "docs\\a.htm", "<p>a</p>");
  StartServer(std::to_string(port));
  ASSERT_TRUE(WaitListening(port));

  vostrel::StatusRecord record;
  ASSERT_TRUE(ReadStatus(&record)) << "a fresh record right after start";
  EXPECT_EQ(record.Responses, 0u);
  EXPECT_EQ(record.Port, port);
  EXPECT_STREQ(record.Address, "127.0.0.1");
  EXPECT_STREQ(record.LastRequest, "Web Server Started/Restarted");

  CurlResult get = Curl(port, "/index.htm");
  EXPECT_EQ(get.status, "200");
  EXPECT_EQ(get.body, kIndexText);
  EXPECT_NE(get.headers.find("Connection: Close"), std::string::npos) << get.headers;

  CurlResult head = Curl(port, "/index.htm", "-I");
  EXPECT_EQ(head.status, "200");
  EXPECT_NE(head.headers.find(std::to_string(sizeof kIndexText - 1)), std::string::npos)
      << "Content-Length of the file: " << head.headers;

  EXPECT_EQ(Curl(port, "/docs/a.htm").body, "<p>a</p>");
  EXPECT_EQ(Curl(port, "/").body, kIndexText);
  EXPECT_EQ(Curl(port, "/a.b.htm").status, "403");
  EXPECT_EQ(Curl(port, "/%41.htm").status, "403");
  CurlResult missing = Curl(port, "/missing.htm");
  EXPECT_EQ(missing.status, "404");
  EXPECT_NE(missing.body.find("404 File Not Found"), std::string::npos);
  EXPECT_EQ(Curl(port, "/index.htm", "-X BREW").status, "501");

  const std::string log = ReadLog();
  EXPECT_NE(log.find("VOSTREL WEB"), std::string::npos);
  EXPECT_NE(log.find("THANKS TO EVERYONE WHO HELPED BUILD THIS SERVER."), std::string::npos);
  EXPECT_NE(log.find("\r\r\n[Vostrel Web Server] v1.1.5 started\r\r\n"), std::string::npos);
  const std::regex peer("127\\.0\\.0\\.1:[0-9]+ accessed the following: ");
  const auto peers =
      std::distance(std::sregex_iterator(log.begin(), log.end(), peer), std::sregex_iterator());
  EXPECT_EQ(peers, 8) << "one peer entry per connection";
  EXPECT_NE(log.find("C:\\www\\index.htm"), std::string::npos);
  EXPECT_NE(log.find("Size: " + std::to_string(sizeof kIndexText - 1)), std::string::npos);
  EXPECT_NE(log.find("C:\\www\\missing.htm \t\t Size: 0"), std::string::npos);
  EXPECT_NE(log.find("User-Agent: vostrel-e2e-agent"), std::string::npos);
  EXPECT_EQ(log.find("Server Error"), std::string::npos);

  ASSERT_TRUE(ReadStatus(&record));
  EXPECT_EQ(record.Responses, 8u);
  EXPECT_EQ(record.GetRequests, 6);
  EXPECT_EQ(record.HeadRequests, 1);
  EXPECT_EQ(record.PostRequests, 0);
  EXPECT_EQ(record.HighLoads, 0);
  EXPECT_EQ(record.Port, port);
  EXPECT_STREQ(record.Address, "127.0.0.1");
  EXPECT_EQ(record.LastRequest[0], '\0');
}

TEST_F(ServerE2e, TwoHundredthConnectionWritesTheStatusLine) {
  const uint16_t port = FreePort();
  WriteWindowsFile(std::string(kDocumentRoot) + "index.htm", kIndexText);
  StartServer(std::to_string(port));
  ASSERT_TRUE(WaitListening(port));
  for (int i = 1; i <= 200; ++i) {
    ASSERT_EQ(Exchange(port, "HEAD /index.htm HTTP/1.0\r\n\r\n").rfind("HTTP/1.1 200", 0), 0u)
        << "connection " << i;
  }
  ASSERT_TRUE(
      WaitLogHas("STATUS: 200 Pages,   0 High Load Periods,   "
                 "Average Time Between Pages (seconds): "));
  EXPECT_EQ(Count(ReadLog(), "STATUS: "), 1u);
  vostrel::StatusRecord record;
  ASSERT_TRUE(ReadStatus(&record));
  EXPECT_EQ(record.Responses, 200u);
  EXPECT_EQ(record.HeadRequests, 200);
}

// Eleven clients that connect and say nothing: ten hold the slots until the
// workers give up on them, the eleventh finds no slot and is closed at once.
// A normal client meanwhile retries while it is closed unanswered.
TEST_F(ServerE2e, SilentClientsDelayButDoNotBlockANormalClient) {
  const uint16_t port = FreePort();
  WriteWindowsFile(std::string(kDocumentRoot) + "index.htm", kIndexText);
  StartServer(std::to_string(port));
  ASSERT_TRUE(WaitListening(port));

  std::vector<plat::net::Socket> silent;
  for (int i = 0; i < 11; ++i) {
    silent.push_back(plat::net::CreateTcpSocket());
    ASSERT_EQ(plat::net::Connect(silent.back(), "127.0.0.1", port), 0) << i;
  }

  // Closed unanswered (curl: empty reply) while no slot is free: try again.
  const auto started = std::chrono::steady_clock::now();
  CurlResult served;
  int attempts = 0, closedUnanswered = 0;
  while (std::chrono::steady_clock::now() - started < std::chrono::seconds(20)) {
    ++attempts;
    served = Curl(port, "/index.htm", "--max-time 19");
    if (served.status == "200") break;
    // Empty reply (52), or a reset (56): the server closed with the request unread.
    if (served.exitCode == 52 || served.exitCode == 56) ++closedUnanswered;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(served.status, "200") << "served within 20 s, after " << attempts << " attempts";
  EXPECT_EQ(served.body, kIndexText);
  std::printf("normal client: %d attempts, %d closed unanswered\n", attempts, closedUnanswered);
  if (closedUnanswered > 0) {
    EXPECT_NE(ReadLog().find("Heavy Server Load Warning!"), std::string::npos);
  }

  // Each silent client sees its end: the notice of a worker that gave up
  // on it, or a close with nothing sent when no slot could take it.
  for (plat::net::Socket s : silent) {
    std::string got;
    char buf[64];
    int n;
    while ((n = plat::net::RecvTimeout(s, buf, sizeof buf, 0, 30000)) > 0) got.append(buf, n);
    EXPECT_TRUE(got == "No data available" || got.empty()) << got;
    plat::net::CloseSocket(s);
  }
}

TEST_F(ServerE2e, PortInUseGivesTheBadAddressEntry) {
  const uint16_t port = FreePort();
  const plat::net::Socket holder = plat::net::CreateTcpSocket();
  ASSERT_EQ(plat::net::Bind(holder, "127.0.0.1", port), 0);
  ASSERT_EQ(plat::net::Listen(holder, 1), 0);
  StartServer(std::to_string(port));
  ASSERT_TRUE(
      WaitLogHas("Server Configuration Error: Bad server address set in the "
                 "VostrelWeb.SET configuration file"));
  EXPECT_EQ(ReadLog().find("Bad server port"), std::string::npos);
  EXPECT_EQ(State(), scm::kRunning) << "the service keeps running without its listener";
  plat::net::CloseSocket(holder);
}

TEST_F(ServerE2e, Port65000LeavesTheServiceRunningWithNothingListening) {
  StartServer("65000");
  ASSERT_TRUE(WaitLogHas("[Vostrel Web Server] v1.1.5 started"));
  vostrel::StatusRecord record;
  ASSERT_TRUE(WaitFor([&] { return ReadStatus(&record); }, 20000));
  EXPECT_EQ(record.Port, 65000);
  EXPECT_EQ(State(), scm::kRunning);
  EXPECT_FALSE(IsListening(65000));
  EXPECT_EQ(ReadLog().find("Server Configuration Error"), std::string::npos);
}

TEST_F(ServerE2e, StopGivesStopPendingThenStoppedAndTheProcessEnds) {
  const uint16_t port = FreePort();
  StartServer(std::to_string(port));
  ASSERT_TRUE(WaitListening(port));  // the listener waits in accept
  scm::ServiceStatus st;
  ASSERT_TRUE(scm::SendControl(service_, scm::kControlStop, &st)) << scm::LastError();
  // The reply carries the status right after the handler ran; the service
  // thread may already have gone on to STOPPED, never anything else.
  EXPECT_TRUE(st.currentState == scm::kStopPending || st.currentState == scm::kStopped)
      << st.currentState;
  EXPECT_EQ(st.waitHint, 30000u);
  EXPECT_TRUE(WaitForState(scm::kStopped));
  EXPECT_TRUE(WaitProcessGone(pid_)) << "the blocked listener does not keep the process";
  EXPECT_FALSE(IsListening(port));
  uint32_t pid = 0;
  EXPECT_FALSE(scm::QueryProcessId(service_, &pid));
}

TEST_F(ServerE2e, KilledServiceReadsAsStopped) {
  const uint16_t port = FreePort();
  StartServer(std::to_string(port));
  ASSERT_TRUE(WaitListening(port));
  ASSERT_TRUE(plat::KillProcess(pid_));
  EXPECT_TRUE(WaitProcessGone(pid_));
  EXPECT_TRUE(WaitForState(scm::kStopped));
}

TEST_F(ServerE2e, StartedByHandItEndsWithExitCodeZero) {
  const std::string command =
      "env -u VOSTREL_SERVICE_NAME '" + binDir_ + "/vostreld' </dev/null >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_NE(status, -1);
  EXPECT_EQ(status & 0x7f, 0) << "ended by a signal";
  EXPECT_EQ((status >> 8) & 0xff, 0);
  EXPECT_TRUE(ReadLog().empty()) << "no server thread ran";
}

}  // namespace
