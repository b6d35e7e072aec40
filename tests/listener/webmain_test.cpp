// The server thread run in-process on a temporary machine and a loopback
// port: start-up outcomes, serving, a silent client, and the stop.
#include "server/listener/webmain.h"

#include <cstring>
#include <string>

#include "common/StatusRecord.h"
#include "listener_fixture.h"
#include "platform/threads/threads.h"
#include "server/listener/Listener.h"
#include "server/listener/Startup.h"
#include "server/store/TAsDB.h"

namespace {

constexpr char kConfigPath[] = "C:\\WINDOWS\\system\\VostrelWeb.SET";
constexpr char kStatusPath[] = "C:\\WINDOWS\\system\\vostrelHttpStatus";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class WebmainTest : public ListenerMachine {
 protected:
  void TearDown() override {
    // Workers end on their own; none may outlive the fixture's lock and machine.
    for (int slot = 0; slot < vostrel::kWorkerSlots; ++slot) {
      if (vostrel::WorkerThreads[slot].IsValid()) vostrel::WorkerThreads[slot].Join();
    }
    vostrel::ClearListenerTables();
    if (vostrel::JournalStore != nullptr) {
      vostrel::JournalStore->Close(0);
      delete vostrel::JournalStore;
      vostrel::JournalStore = nullptr;
    }
    ListenerMachine::TearDown();
  }

  void WriteConfig(const std::string& port) {
    WriteWindowsFile(kConfigPath, "127.0.0.1\n" + port + "\nC:\\www\\\nsecret\n");
  }

  bool ReadStatus(vostrel::StatusRecord* record) {
    const std::string bytes = ReadWindowsFile(kStatusPath);
    if (bytes.size() != sizeof *record) return false;
    std::memcpy(record, bytes.data(), sizeof *record);
    return true;
  }

  // Connects (retrying while the server starts), sends the request, and
  // returns what arrives until the server closes.
  static std::string Exchange(uint16_t port, const std::string& request) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const plat::net::Socket s = plat::net::CreateTcpSocket();
      if (plat::net::Connect(s, "127.0.0.1", port) != 0) {
        plat::net::CloseSocket(s);
        plat::Sleep(50);
        continue;
      }
      plat::net::Send(s, request.data(), static_cast<int>(request.size()), 0);
      std::string reply;
      char buf[4096];
      int n;
      while ((n = plat::net::RecvTimeout(s, buf, sizeof buf, 0, 20000)) > 0) reply.append(buf, n);
      plat::net::CloseSocket(s);
      return reply;
    }
    return "";
  }
};

// Ports the server refuses end the thread without a log entry of their own;
// the banner and the fresh status record are written all the same.
TEST_F(WebmainTest, RefusedPortsEndTheThreadSilently) {
  for (const char* port : {"0", "65000", "abc"}) {
    WriteConfig(port);
    EXPECT_EQ(vostrel::webmain(nullptr), 0u);
    const std::string log = ReadLog();
    EXPECT_NE(log.find("VOSTREL WEB"), std::string::npos) << port;
    EXPECT_NE(log.find("THANKS TO EVERYONE WHO HELPED BUILD THIS SERVER."), std::string::npos);
    EXPECT_NE(log.find("[Vostrel Web Server] v1.1.5 started"), std::string::npos);
    EXPECT_EQ(log.find("Server Configuration Error"), std::string::npos) << port;
    vostrel::StatusRecord record;
    ASSERT_TRUE(ReadStatus(&record)) << port;
    EXPECT_EQ(record.Port, std::atoi(port));
    EXPECT_STREQ(record.Address, "127.0.0.1");
    EXPECT_STREQ(record.LastRequest, "Web Server Started/Restarted");
    EXPECT_EQ(record.Responses, 0u);
    vostrel::JournalStore->Close(0);
    delete vostrel::JournalStore;
    vostrel::JournalStore = nullptr;
  }
}

TEST_F(WebmainTest, PortInUseGivesTheBadAddressEntry) {
  const uint16_t port = FreeLoopbackPort();
  const plat::net::Socket holder = plat::net::CreateTcpSocket();
  ASSERT_EQ(plat::net::Bind(holder, "127.0.0.1", port), 0);
  ASSERT_EQ(plat::net::Listen(holder, 1), 0);
  WriteConfig(std::to_string(port));
  EXPECT_EQ(vostrel::webmain(nullptr), 0u);
  const std::string log = ReadLog();
  EXPECT_NE(log.find(vostrel::kBadAddressText), std::string::npos);
  EXPECT_EQ(log.find(vostrel::kBadPortText), std::string::npos);
  plat::net::CloseSocket(holder);
}

// Serves requests; a client that connects and sends nothing holds the
// listener only for its peek time-out; once the run flag is cleared, one
// more connection is accepted and then the thread ends.
TEST_F(WebmainTest, ServesThenStopsAfterOneMoreConnection) {
  const uint16_t port = FreeLoopbackPort();
  WriteConfig(std::to_string(port));
  WriteWindowsFile("C:\\www\\index.htm", "<html>hello from the listener test</html>");
  plat::Thread server = plat::Thread::Start(vostrel::webmain, nullptr);

  std::string reply =
      Exchange(port, "GET /index.htm HTTP/1.0\r\nUser-Agent: listener-test\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
  EXPECT_NE(reply.find("hello from the listener test"), std::string::npos);

  const plat::net::Socket silent = plat::net::CreateTcpSocket();
  ASSERT_EQ(plat::net::Connect(silent, "127.0.0.1", port), 0);
  reply = Exchange(port, "HEAD /index.htm HTTP/1.0\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << "served while the silent client waits";
  EXPECT_EQ(reply.find("hello from"), std::string::npos) << "HEAD carries no body";

  vostrel::StatusRecord record;
  ASSERT_TRUE(ReadStatus(&record));
  EXPECT_EQ(record.Responses, 3u);
  EXPECT_EQ(record.GetRequests, 1);
  EXPECT_EQ(record.HeadRequests, 1);
  EXPECT_EQ(record.Port, port);
  EXPECT_EQ(record.LastRequest[0], '\0');

  // Let the listener get back into accept (past its 75 ms pause) first: the
  // flag is looked at only before each accept.
  plat::Sleep(500);
  vostrel::ServerRunning = 0;
  reply = Exchange(port, "GET /index.htm HTTP/1.0\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << "accepted and served after the stop";
  server.Join();
  plat::net::CloseSocket(silent);

  const std::string log = ReadLog();
  EXPECT_EQ(Count(log, " accessed the following: "), 4u);
  EXPECT_NE(log.find("127.0.0.1:"), std::string::npos);
  EXPECT_NE(log.find("listener-test"), std::string::npos);
  EXPECT_EQ(log.find("Server Error"), std::string::npos);
}

}  // namespace
