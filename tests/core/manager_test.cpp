// TManager and the status file: the record after start-up and after counted
// requests, the method counts, the minutes on the fake clock, and the file
// read by another reader while the server holds it open.
#include <cstring>
#include <string>
#include <vector>

#include "common/StatusRecord.h"
#include "core_fixture.h"
#include "platform/files/files.h"
#include "server/listener/ServerGlobals.h"
#include "server/stats/Unittmanager.h"

namespace vostrel::testing {
namespace {

constexpr char kStatusPath[] = "C:\\WINDOWS\\system\\vostrelHttpStatus";
constexpr char kStartedText[] = "Web Server Started/Restarted";

class Manager : public CoreMachine {
 protected:
  // What start-up does with the status file.
  std::unique_ptr<TManager> Start(int port, const char* address) {
    auto m = std::make_unique<TManager>();
    m->ServerLock = ServerLock;
    m->OpenStatusFile(kStatusPath);
    m->Record.Port = port;
    std::memcpy(m->Record.Address, address, std::strlen(address) + 1);
    std::strcpy(m->Record.LastRequest, kStartedText);
    m->WriteStatus();
    return m;
  }
  // The listener's update for one counted request.
  void Count(TManager& m, const std::string& peeked, uint32_t accepted, int heavy) {
    m.UpdateMinutes();
    m.ClearRequestInfo();
    m.CountRequest(peeked.data(), static_cast<int>(peeked.size()));
    m.Record.Responses = accepted;
    m.Record.HighLoads = heavy;
    m.Record.Port = 8080;
    m.SetAddress("127.0.0.1");
    m.WriteStatus();
  }
  // The file as another process reads it, while the server keeps it open.
  StatusRecord ReadBack() {
    StatusRecord r;
    std::memset(&r, 0xEE, sizeof r);
    plat::File f = plat::File::Open(kStatusPath, "rb");
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(f.Read(&r, sizeof r, 1), 1u);
    char extra;
    EXPECT_EQ(f.Read(&extra, 1, 1), 0u);  // exactly 308 bytes
    return r;
  }
};

TEST_F(Manager, RecordAfterStartUp) {
  auto m = Start(8080, "127.0.0.1");
  StatusRecord r = ReadBack();
  EXPECT_EQ(r.Responses, 0u);
  EXPECT_EQ(r.Minutes, 0u);
  EXPECT_EQ(r.HeadRequests + r.GetRequests + r.PostRequests, 0);
  EXPECT_EQ(r.Port, 8080);
  EXPECT_EQ(std::string(r.Address, sizeof r.Address),
            std::string("127.0.0.1") + std::string(7, '\0'));
  EXPECT_EQ(std::string(r.LastRequest, sizeof r.LastRequest),
            kStartedText + std::string(sizeof r.LastRequest - std::strlen(kStartedText), '\0'));
}

TEST_F(Manager, RecordAfterOneGet) {
  auto m = Start(8080, "127.0.0.1");
  Count(*m, "GET / HTTP/1.1\r\n\r\n", 1, 0);
  StatusRecord r = ReadBack();
  EXPECT_EQ(r.Responses, 1u);
  EXPECT_EQ(r.GetRequests, 1);
  EXPECT_EQ(r.HeadRequests, 0);
  EXPECT_EQ(r.PostRequests, 0);
  EXPECT_EQ(r.PrematureCloses, 0);
  EXPECT_EQ(r.Reserved, 0);
  EXPECT_EQ(std::string(r.Address), "127.0.0.1");
  EXPECT_EQ(std::string(r.LastRequest, sizeof r.LastRequest),
            std::string(sizeof r.LastRequest, '\0'));
}

TEST_F(Manager, MethodsAreCountedInAnyLetterCase) {
  struct Case {
    std::string request;
    int get, head, post;
  };
  const std::vector<Case> cases = {
      {"GET / HTTP/1.1", 1, 0, 0},        {"get / HTTP/1.1", 1, 0, 0},
      {"head /x HTTP/1.0", 0, 1, 0},      {std::string("HEAD HTTP1.1 \\\0", 15), 0, 1, 0},
      {"post / HTTP/1.1", 0, 0, 1},       {"PoSt /", 0, 0, 1},
      {"PUT / HTTP/1.1", 0, 0, 0},        {" GET / HTTP/1.1", 0, 0, 0},
      {std::string(12000, 'g'), 0, 0, 0},  // longer than the work area: cut, not overrun
  };
  for (const Case& c : cases) {
    TManager m;
    m.CountRequest(c.request.data(), static_cast<int>(c.request.size()));
    EXPECT_EQ(m.Record.GetRequests, c.get) << c.request.substr(0, 20);
    EXPECT_EQ(m.Record.HeadRequests, c.head) << c.request.substr(0, 20);
    EXPECT_EQ(m.Record.PostRequests, c.post) << c.request.substr(0, 20);
  }
}

TEST_F(Manager, MinutesFollowTheClock) {
  auto m = Start(80, "127.0.0.1");
  clock_->Advance(59999);
  Count(*m, "GET / HTTP/1.1", 1, 0);
  EXPECT_EQ(ReadBack().Minutes, 0u);
  clock_->Advance(60001);  // two minutes after start
  Count(*m, "GET / HTTP/1.1", 2, 0);
  EXPECT_EQ(ReadBack().Minutes, 2u);
  clock_->Advance(60000);
  Count(*m, "HEAD / HTTP/1.1", 3, 1);
  StatusRecord r = ReadBack();
  EXPECT_EQ(r.Minutes, 3u);
  EXPECT_EQ(r.HighLoads, 1);
  EXPECT_EQ(r.GetRequests, 2);
  EXPECT_EQ(r.HeadRequests, 1);
}

TEST_F(Manager, MinutesAcrossTheTickWrap) {
  clock_->SetTick(0xFFFFFFFFu - 30000);
  TManager m;
  clock_->Advance(120000);
  EXPECT_EQ(m.UpdateMinutes(), 2u);
  EXPECT_EQ(m.Record.Minutes, 2u);
}

TEST_F(Manager, SetAddressKeepsTheFieldTerminated) {
  TManager m;
  std::memset(m.Record.Address, 'x', sizeof m.Record.Address);
  m.SetAddress("255.255.255.255.255");
  EXPECT_EQ(std::string(m.Record.Address), "255.255.255.255");
  m.SetAddress("1.2.3.4");
  EXPECT_EQ(std::string(m.Record.Address, sizeof m.Record.Address),
            std::string("1.2.3.4") + std::string(9, '\0'));
}

TEST_F(Manager, RewritesInPlaceAndSurvivesAMissingFile) {
  auto m = Start(80, "127.0.0.1");
  for (uint32_t i = 1; i <= 5; ++i) Count(*m, "GET /", i, 0);
  EXPECT_EQ(ReadBack().Responses, 5u);  // ReadBack checks the 308-byte size

  TManager closed;  // no file: the write gives up quietly, the lock is free again
  closed.ServerLock = ServerLock;
  closed.WriteStatus();
  EXPECT_FALSE(serverLock_.HeldByCaller());
}

TEST_F(Manager, OpeningTruncatesAnOldFile) {
  {
    plat::File f = plat::File::Open(kStatusPath, "wb");
    std::string junk(1000, 'j');
    f.Write(junk.data(), junk.size(), 1);
  }
  auto m = Start(81, "10.0.0.1");
  EXPECT_EQ(ReadBack().Port, 81);
}

}  // namespace
}  // namespace vostrel::testing
