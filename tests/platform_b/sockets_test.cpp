// Winsock-like sockets on loopback: peeks with and without time-out, sends to
// a vanished peer, stale handles, clean-up of blocked accepts, address text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/faults/faults.h"
#include "platform/sockets/sockets.h"
#include "platform/threads/threads.h"

namespace net = plat::net;

namespace {

constexpr const char* kLoopback = "127.0.0.1";

// Network-order address from four bytes, as they lie in memory.
uint32_t WireAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

uint16_t WirePort(uint16_t port) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8),
                            static_cast<uint8_t>(port & 0xFF)};
  uint16_t v;
  std::memcpy(&v, bytes, 2);
  return v;
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net::Startup());
    listener_ = net::CreateTcpSocket();
    ASSERT_NE(listener_, net::kInvalidSocket);
    ASSERT_EQ(net::Bind(listener_, kLoopback, 0), 0);
    ASSERT_EQ(net::Listen(listener_, 5), 0);
    port_ = static_cast<uint16_t>(net::LocalPort(listener_));
    ASSERT_GT(port_, 0);
  }
  void TearDown() override { net::Cleanup(); }

  // A connected pair: client side and the accepted server side.
  void Connect(net::Socket* client, net::Socket* server,
               net::PeerAddress* peer = nullptr) {
    *client = net::CreateTcpSocket();
    ASSERT_NE(*client, net::kInvalidSocket);
    ASSERT_EQ(net::Connect(*client, kLoopback, port_), 0);
    net::PeerAddress ignored;
    *server = net::Accept(listener_, peer ? peer : &ignored);
    ASSERT_NE(*server, net::kInvalidSocket);
  }

  net::Socket listener_ = net::kInvalidSocket;
  uint16_t port_ = 0;
};

TEST_F(SocketTest, PeekWithTimeOutGivesZeroWhenTheClientSendsNothing) {
  net::Socket client, server;
  Connect(&client, &server);
  char buf[64] = {};
  EXPECT_EQ(net::RecvTimeout(server, buf, sizeof buf, net::kMsgPeek, 100), 0);
  // The connection is still usable after the time-out.
  ASSERT_EQ(net::Send(client, "GET", 3, 0), 3);
  EXPECT_EQ(net::RecvTimeout(server, buf, sizeof buf, net::kMsgPeek, 10000), 3);
}

TEST_F(SocketTest, PeekSeesTheBytesWithoutConsumingThem) {
  net::Socket client, server;
  Connect(&client, &server);
  ASSERT_EQ(net::Send(client, "HEAD / x", 8, 0), 8);
  char buf[64] = {};
  ASSERT_EQ(net::RecvTimeout(server, buf, sizeof buf, net::kMsgPeek, 10000), 8);
  EXPECT_EQ(std::string(buf, 8), "HEAD / x");
  std::memset(buf, 0, sizeof buf);
  EXPECT_EQ(net::Recv(server, buf, sizeof buf, net::kMsgPeek), 8);
  std::memset(buf, 0, sizeof buf);
  EXPECT_EQ(net::Recv(server, buf, sizeof buf, 0), 8);
  EXPECT_EQ(std::string(buf, 8), "HEAD / x");
  // Consumed now: nothing is left to peek at.
  EXPECT_EQ(net::RecvTimeout(server, buf, sizeof buf, net::kMsgPeek, 50), 0);
}

TEST_F(SocketTest, RecvGivesZeroWhenThePeerClosed) {
  net::Socket client, server;
  Connect(&client, &server);
  ASSERT_EQ(net::CloseSocket(client), 0);
  char buf[16];
  EXPECT_EQ(net::Recv(server, buf, sizeof buf, net::kMsgPeek), 0);
  EXPECT_EQ(net::RecvTimeout(server, buf, sizeof buf, net::kMsgPeek, 10000), 0);
}

TEST_F(SocketTest, SendToAClosedPeerFailsAndTheProcessLives) {
  net::Socket client, server;
  Connect(&client, &server);
  ASSERT_EQ(net::CloseSocket(client), 0);
  // The first sends may still be taken by the kernel; once the peer's reset
  // arrives they fail, and a signal must not end the process.
  const std::string chunk(4096, 'x');
  int result = 0;
  for (int i = 0; i < 200 && result != net::kSocketError; ++i) {
    result = net::Send(server, chunk.data(), static_cast<int>(chunk.size()), 0);
    if (result != net::kSocketError) plat::Sleep(5);
  }
  EXPECT_EQ(result, net::kSocketError);
  EXPECT_EQ(net::Send(server, "x", 1, 0), net::kSocketError);
}

TEST_F(SocketTest, ClosingTwiceFailsHarmlesslyAndSparesANewSocket) {
  net::Socket first = net::CreateTcpSocket();
  ASSERT_NE(first, net::kInvalidSocket);
  EXPECT_EQ(net::CloseSocket(first), 0);
  // The next socket likely gets the same descriptor; the stale handle must
  // not reach it.
  net::Socket second = net::CreateTcpSocket();
  ASSERT_NE(second, net::kInvalidSocket);
  EXPECT_NE(second, first);
  EXPECT_EQ(net::CloseSocket(first), net::kSocketError);
  EXPECT_EQ(net::Connect(second, kLoopback, port_), 0);
  EXPECT_EQ(net::CloseSocket(second), 0);
  EXPECT_EQ(net::CloseSocket(second), net::kSocketError);
}

TEST_F(SocketTest, UnknownHandlesFailEveryCall) {
  char buf[4];
  for (net::Socket bad : {0, 1, 2, 99, 123456, net::kInvalidSocket}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(net::CloseSocket(bad), net::kSocketError);
    EXPECT_EQ(net::Send(bad, "x", 1, 0), net::kSocketError);
    EXPECT_EQ(net::Recv(bad, buf, sizeof buf, 0), net::kSocketError);
    EXPECT_EQ(net::RecvTimeout(bad, buf, sizeof buf, net::kMsgPeek, 0),
              net::kSocketError);
    EXPECT_EQ(net::Accept(bad, nullptr), net::kInvalidSocket);
    EXPECT_EQ(net::Bind(bad, kLoopback, 0), net::kSocketError);
  }
}

TEST_F(SocketTest, BindToAPortInUseFails) {
  net::Socket s = net::CreateTcpSocket();
  ASSERT_NE(s, net::kInvalidSocket);
  EXPECT_EQ(net::Bind(s, kLoopback, port_), net::kSocketError);
  // The same socket can still bind elsewhere.
  EXPECT_EQ(net::Bind(s, kLoopback, 0), 0);
}

TEST_F(SocketTest, BadAddressTextFailsBindAndConnect) {
  // Unreadable text reads as kInaddrNone, the broadcast address: no use.
  net::Socket s = net::CreateTcpSocket();
  EXPECT_EQ(net::Bind(s, "not an address", 0), net::kSocketError);
  EXPECT_EQ(net::Connect(s, "", port_), net::kSocketError);
  EXPECT_EQ(net::Bind(s, kLoopback, 0), 0);  // the socket is still fine
}

TEST_F(SocketTest, ConnectWithoutListenerFails) {
  net::Socket probe = net::CreateTcpSocket();
  ASSERT_EQ(net::Bind(probe, kLoopback, 0), 0);  // reserve a port, no listen
  uint16_t deadPort = static_cast<uint16_t>(net::LocalPort(probe));
  net::Socket s = net::CreateTcpSocket();
  EXPECT_EQ(net::Connect(s, kLoopback, deadPort), net::kSocketError);
}

TEST_F(SocketTest, AcceptReportsThePeerAsText) {
  net::Socket client, server;
  net::PeerAddress peer;
  Connect(&client, &server, &peer);
  EXPECT_EQ(peer.family, net::kAfInet);
  EXPECT_EQ(peer.address, WireAddress(127, 0, 0, 1));
  char text[256] = {};
  uint32_t length = 16;
  ASSERT_TRUE(net::AddressToString(peer, text, &length));
  std::string expected = "127.0.0.1:" + std::to_string(net::LocalPort(client));
  EXPECT_EQ(std::string(text), expected);
  EXPECT_EQ(length, expected.size() + 1);
}

uint32_t AcceptOnce(void* arg) {
  net::Socket s = *static_cast<net::Socket*>(arg);
  return net::Accept(s, nullptr) == net::kInvalidSocket ? 1 : 2;
}

TEST_F(SocketTest, CleanupUnblocksAcceptAndClosesEverySocket) {
  net::Socket client, server;
  Connect(&client, &server);
  plat::Thread acceptor = plat::Thread::Start(&AcceptOnce, &listener_);
  plat::Sleep(50);  // let it block in accept
  EXPECT_EQ(acceptor.ExitCode(), plat::kStillActive);
  net::Cleanup();
  acceptor.Join();
  EXPECT_EQ(acceptor.ExitCode(), 1u);  // kInvalidSocket
  EXPECT_EQ(net::OpenSocketCount(), 0);
  EXPECT_EQ(net::CloseSocket(listener_), net::kSocketError);
  EXPECT_EQ(net::Send(client, "x", 1, 0), net::kSocketError);
  EXPECT_EQ(net::CreateTcpSocket(), net::kInvalidSocket);  // library ended
  ASSERT_TRUE(net::Startup());  // for TearDown's Cleanup
}

TEST_F(SocketTest, ClosingTheListenerUnblocksAccept) {
  plat::Thread acceptor = plat::Thread::Start(&AcceptOnce, &listener_);
  plat::Sleep(50);
  EXPECT_EQ(net::CloseSocket(listener_), 0);
  acceptor.Join();
  EXPECT_EQ(acceptor.ExitCode(), 1u);
}

TEST_F(SocketTest, SendFaultFailsOneSend) {
  net::Socket client, server;
  Connect(&client, &server);
  plat::FailNth(plat::FaultPoint::Send, 1);
  EXPECT_EQ(net::Send(server, "ab", 2, 0), net::kSocketError);
  EXPECT_EQ(net::Send(server, "ab", 2, 0), 2);
  plat::ClearFaults();
}

TEST(SocketLibraryTest, StartupAndCleanupAreCounted) {
  EXPECT_EQ(net::CreateTcpSocket(), net::kInvalidSocket);  // not started
  ASSERT_TRUE(net::Startup());
  ASSERT_TRUE(net::Startup());
  net::Socket s = net::CreateTcpSocket();
  ASSERT_NE(s, net::kInvalidSocket);
  EXPECT_NE(s, 0);
  net::Cleanup();
  EXPECT_EQ(net::OpenSocketCount(), 1);  // one start-up still holds it
  net::Cleanup();
  EXPECT_EQ(net::OpenSocketCount(), 0);
  EXPECT_EQ(net::CloseSocket(s), net::kSocketError);
}

TEST(InetAddrTest, ReadsTextAsInetAddrDoes) {
  struct Case {
    const char* text;
    uint32_t expected;
  } cases[] = {
      {"127.0.0.1", WireAddress(127, 0, 0, 1)},
      {"192.168.1.20", WireAddress(192, 168, 1, 20)},
      {"127.1", WireAddress(127, 0, 0, 1)},  // short forms fill from the right
      {"0.0.0.0", 0},
      {"1.2.3.256", net::kInaddrNone},
      {"localhost", net::kInaddrNone},
      {"", net::kInaddrNone},
      {nullptr, net::kInaddrNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    EXPECT_EQ(net::InetAddr(c.text), c.expected);
  }
}

TEST(AddressToStringTest, WritesOnlyWhenTheTextFits) {
  struct Case {
    uint32_t address;
    uint16_t port;
    uint32_t length;
    const char* expected;  // nullptr: must not fit
  } cases[] = {
      {WireAddress(127, 0, 0, 1), 8080, 16, "127.0.0.1:8080"},
      {WireAddress(10, 0, 0, 1), 80, 12, "10.0.0.1:80"},  // exactly fits
      {WireAddress(10, 0, 0, 1), 80, 11, nullptr},        // one short
      {WireAddress(192, 168, 100, 200), 65535, 16, nullptr},
      {WireAddress(192, 168, 100, 200), 65535, 22, "192.168.100.200:65535"},
      {WireAddress(1, 2, 3, 4), 0, 16, "1.2.3.4"},  // no port, no colon
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected ? c.expected : "too long");
    net::PeerAddress peer;
    peer.family = net::kAfInet;
    peer.address = c.address;
    peer.port = WirePort(c.port);
    char text[64];
    std::memset(text, '#', sizeof text);
    uint32_t length = c.length;
    bool ok = net::AddressToString(peer, text, &length);
    if (c.expected) {
      ASSERT_TRUE(ok);
      EXPECT_STREQ(text, c.expected);
      EXPECT_EQ(length, std::strlen(c.expected) + 1);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(text[0], '#');  // nothing written
      EXPECT_GT(length, c.length);
    }
  }
}

TEST(AddressToStringTest, RefusesANonIpv4Address) {
  net::PeerAddress peer;  // family 0
  char text[32] = "untouched";
  uint32_t length = sizeof text;
  EXPECT_FALSE(net::AddressToString(peer, text, &length));
  EXPECT_STREQ(text, "untouched");
}

}  // namespace
