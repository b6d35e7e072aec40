// The request worker over real loopback connections: the one read, the
// notice for a client without data, long requests, the POST body read on,
// the store users count and the connection closed on every path.
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "core_fixture.h"
#include "platform/faults/faults.h"
#include "platform/sockets/sockets.h"
#include "platform/threads/threads.h"
#include "server/listener/ProcessRequest.h"
#include "server/listener/ServerGlobals.h"
#include "server/store/TAsDB.h"

namespace vostrel::testing {
namespace {

namespace net = plat::net;

constexpr uint32_t kClientWaitMs = 15000;  // a client never waits forever

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class Worker : public CoreMachine {
 protected:
  void SetUp() override {
    CoreMachine::SetUp();
    ASSERT_TRUE(net::Startup());
    baseSockets_ = net::OpenSocketCount();
    listener_ = net::CreateTcpSocket();
    ASSERT_NE(listener_, net::kInvalidSocket);
    // Probe for a free loopback port.
    std::random_device seed;
    for (uint16_t port = 20000 + static_cast<uint16_t>(seed() % 20000); port_ == 0; ++port) {
      if (net::Bind(listener_, "127.0.0.1", port) == 0) port_ = port;
      ASSERT_LT(port, 65000);
    }
    ASSERT_EQ(net::Listen(listener_, 5), 0);
  }
  void TearDown() override {
    net::CloseSocket(listener_);
    EXPECT_EQ(net::OpenSocketCount(), baseSockets_);
    StoreUsers = 0;
    JournalStore = nullptr;
    CoreMachine::TearDown();
  }

  // Connects a client and accepts its server side.
  void Connect() {
    client_ = net::CreateTcpSocket();
    ASSERT_EQ(net::Connect(client_, "127.0.0.1", port_), 0);
    net::PeerAddress peer;
    server_ = net::Accept(listener_, &peer);
    ASSERT_NE(server_, net::kInvalidSocket);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(net::Send(client_, bytes.data(), static_cast<int>(bytes.size()), 0),
              static_cast<int>(bytes.size()));
  }
  // Runs the worker on a thread of its own, as the listener does.
  void StartWorker() {
    entry_ = server_;
    worker_ = plat::Thread::Start(ProcessRequest, &entry_);
    ASSERT_TRUE(worker_.IsValid());
  }
  // Everything the client receives until the server closes.
  std::string ReceiveAll() {
    std::string all;
    char buf[65536];
    for (;;) {
      int n = net::RecvTimeout(client_, buf, sizeof buf, 0, kClientWaitMs);
      if (n <= 0) break;
      all.append(buf, n);
    }
    return all;
  }
  // The worker has ended with code 0 and the client sees the close.
  void ExpectWorkerDone() {
    worker_.Join();
    EXPECT_EQ(worker_.ExitCode(), 0u);
    char c;
    EXPECT_EQ(net::RecvTimeout(client_, &c, 1, 0, kClientWaitMs), 0);
    EXPECT_EQ(net::CloseSocket(server_), net::kSocketError);  // already closed by the worker
    net::CloseSocket(client_);
  }

  int baseSockets_ = 0;
  net::Socket listener_ = net::kInvalidSocket;
  net::Socket client_ = net::kInvalidSocket;
  net::Socket server_ = net::kInvalidSocket;
  int32_t entry_ = 0;
  uint16_t port_ = 0;
  plat::Thread worker_;
};

TEST_F(Worker, ServesAFile) {
  WriteDoc("a.htm", "hello");
  Connect();
  Send("GET /a.htm HTTP/1.1\r\nHost: x\r\n\r\n");
  StartWorker();
  EXPECT_EQ(ReceiveAll(), Header200(NewProcessor()->ServerHeader, 5, true) + "hello");
  ExpectWorkerDone();
}

TEST_F(Worker, ClientThatSendsNothingAndCloses) {
  Connect();
  net::CloseSocket(client_);
  entry_ = server_;
  EXPECT_EQ(ProcessRequest(&entry_), 0u);  // the notice goes to a closed peer
  EXPECT_EQ(net::CloseSocket(server_), net::kSocketError);
}

TEST_F(Worker, SilentClientGetsTheNoticeAfterThePeekGivesUp) {
  Connect();
  StartWorker();  // waits the full 10 s of real time
  EXPECT_EQ(ReceiveAll(), "No data available");
  ExpectWorkerDone();
}

TEST_F(Worker, RequestInTwoPartsIsReadOnce) {
  WriteDoc("BadFileName.htm", "first part only");
  WriteDoc("a.htm", "both parts");
  Connect();
  Send("GET /a.htm");  // one space: read alone it names BadFileName.htm
  StartWorker();
  const std::string response = ReceiveAll();
  EXPECT_EQ(response, Header200(NewProcessor()->ServerHeader, 15, true) + "first part only");
  net::Send(client_, " HTTP/1.1\r\n\r\n", 13, 0);  // too late: nobody reads it
  ExpectWorkerDone();
}

TEST_F(Worker, RequestOfMoreThan10000Bytes) {
  Connect();
  Send("GET /a.htm HTTP/1.1\r\nX-Fill: " + std::string(12000, 'f') + "\r\n\r\n");
  Pause(100);  // all of it waiting before the worker looks
  StartWorker();
  // 8000 characters or more: refused whole, answered 501.
  EXPECT_EQ(ReceiveAll().rfind("HTTP/1.1 501 Unknown Error\r\n", 0), 0u);
  ExpectWorkerDone();
}

TEST_F(Worker, NothingToSendStillCloses) {
  Connect();
  Send("GET /JOURNAL_ADMIN HTTP/1.1\r\n\r\n");  // no store: an empty answer
  StartWorker();
  EXPECT_EQ(ReceiveAll(), "");
  ExpectWorkerDone();
}

TEST_F(Worker, FailedSendStillCloses) {
  WriteDoc("a.htm", "x");
  Connect();
  Send("GET /a.htm HTTP/1.1\r\n\r\n");
  plat::FailNth(plat::FaultPoint::Send, 1);
  StartWorker();
  EXPECT_EQ(ReceiveAll(), "");
  ExpectWorkerDone();
}

TEST_F(Worker, ProcessorWithoutBuffersStillCloses) {
  Connect();
  Send("GET /a.htm HTTP/1.1\r\n\r\n");
  plat::FailNth(plat::FaultPoint::Allocation, 1, true);
  StartWorker();
  EXPECT_EQ(ReceiveAll(), "");
  worker_.Join();
  plat::ClearFaults();  // before the checks, which build a processor
  ExpectWorkerDone();
}

TEST_F(Worker, ConfigurationIsCopiedUnderTheLock) {
  WriteDoc("sub/a.htm", "in sub");
  std::strcpy(ConfigRoot, "C:\\www\\sub\\");
  Connect();
  Send("GET /a.htm HTTP/1.1\r\n\r\n");
  StartWorker();
  EXPECT_EQ(ReceiveAll(), Header200(NewProcessor()->ServerHeader, 6, true) + "in sub");
  ExpectWorkerDone();
}

TEST_F(Worker, StoreUsersCountsTheRequestInFlight) {
  TAsDB store;
  JournalStore = &store;
  const std::string big(32 * 1024 * 1024, 'B');  // more than loopback buffers hold
  WriteDoc("big.htm", big);
  Connect();
  Send("GET /big.htm HTTP/1.1\r\n\r\n");
  StartWorker();
  // The worker blocks in its send until we read: the store is in use meanwhile.
  bool seen = false;
  for (int i = 0; i < 2000 && !seen; ++i) {
    seen = StoreUsers.load() == 1;
    if (!seen) Pause(5);
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(ReceiveAll().size(),
            Header200(NewProcessor()->ServerHeader, big.size(), true).size() + big.size());
  ExpectWorkerDone();
  EXPECT_EQ(StoreUsers.load(), 0);
}

// The read itself, driven directly.
class Read : public Worker {
 protected:
  int ReadNow(uint32_t peekMs = kPeekTimeoutMs) {
    std::memset(buffer_, 0, sizeof buffer_);
    return ReadRequest(server_, buffer_, peekMs);
  }
  void TearDown() override {
    if (sender_.joinable()) sender_.join();
    net::CloseSocket(server_);
    net::CloseSocket(client_);
    Worker::TearDown();
  }
  void SendLater(std::string bytes, int ms) {
    sender_ = std::thread([this, bytes, ms] {
      Pause(ms);
      net::Send(client_, bytes.data(), static_cast<int>(bytes.size()), 0);
    });
  }
  char buffer_[kRequestBufferSize + 1];
  std::thread sender_;
};

TEST_F(Read, FullBufferIsStillTerminated) {
  Connect();
  Send(std::string(12000, 'r'));
  Pause(100);
  EXPECT_EQ(ReadNow(), kRequestBufferSize);
  EXPECT_EQ(buffer_[kRequestBufferSize], '\0');
  EXPECT_EQ(std::strlen(buffer_), static_cast<size_t>(kRequestBufferSize));
}

TEST_F(Read, SilentClientGivesNothing) {
  Connect();
  EXPECT_EQ(ReadNow(200), 0);
}

TEST_F(Read, PostBodyIsReadOnUntilComplete) {
  Connect();
  const std::string head = "POST /JOURNAL_SAVE HTTP/1.1\r\nHost: h\r\ncontent-length: 20\r\n\r\n";
  Send(head + "12345");
  SendLater("67890abcdefghij", 300);
  EXPECT_EQ(ReadNow(), static_cast<int>(head.size() + 20));
  EXPECT_EQ(std::string(buffer_), head + "1234567890abcdefghij");
}

TEST_F(Read, PostBodyInManySegments) {
  Connect();
  const std::string head = "POST / HTTP/1.1\r\nContent-Length:   9\r\n\r\n";
  Send(head + "abc");
  sender_ = std::thread([this] {
    for (const char* part : {"def", "ghi"}) {
      Pause(150);
      net::Send(client_, part, 3, 0);
    }
  });
  EXPECT_EQ(ReadNow(), static_cast<int>(head.size() + 9));
  EXPECT_EQ(std::string(buffer_), head + "abcdefghi");
}

TEST_F(Read, IncompleteHeaderBlockIsReadOnce) {
  Connect();
  const std::string first = "POST / HTTP/1.1\r\nContent-Length: 10\r\n";
  Send(first);
  SendLater("\r\n0123456789", 300);
  EXPECT_EQ(ReadNow(), static_cast<int>(first.size()));
  EXPECT_EQ(std::string(buffer_), first);
}

TEST_F(Read, OnlyPostIsReadOn) {
  Connect();
  const std::string get = "GET / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc";
  Send(get);
  SendLater("defghij", 300);
  EXPECT_EQ(ReadNow(), static_cast<int>(get.size()));
}

TEST_F(Read, PostBodyThatNeverCompletesGivesUpAfterTwoSeconds) {
  Connect();
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n";
  Send(head + "part");
  SendLater("more", 200);
  EXPECT_EQ(ReadNow(), static_cast<int>(head.size() + 8));
  EXPECT_EQ(std::string(buffer_), head + "partmore");
}

TEST_F(Read, PostBodyStopsAtAFullBuffer) {
  Connect();
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 20000\r\n\r\n";
  Send(head + "b");
  SendLater(std::string(15000, 'c'), 200);
  EXPECT_EQ(ReadNow(), kRequestBufferSize);
  EXPECT_EQ(buffer_[kRequestBufferSize], '\0');
  EXPECT_EQ(std::strlen(buffer_), static_cast<size_t>(kRequestBufferSize));
}

TEST_F(Read, PostBodyEndsWhenThePeerCloses) {
  Connect();
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\n";
  Send(head + "only");
  sender_ = std::thread([this] {
    Pause(200);
    net::CloseSocket(client_);
  });
  EXPECT_EQ(ReadNow(), static_cast<int>(head.size() + 4));
  sender_.join();
  client_ = net::kInvalidSocket;
}

}  // namespace
}  // namespace vostrel::testing
