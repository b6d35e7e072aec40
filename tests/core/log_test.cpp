// The server log: 150-byte entries, text-mode line ends, cutting, flushing,
// recovery after a failed open, the STATUS line and the release flag.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "core_fixture.h"
#include "platform/faults/faults.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"

namespace vostrel::testing {
namespace {

class Log : public CoreMachine {};

TEST_F(Log, EveryEntryIs150BytesAndLineFeedsBecomeCrLf) {
  auto p = NewProcessor();
  const std::string longText(400, 'L');
  p->WriteLog(kLogText, 1234, "C:\\www\\a.htm", 1);
  p->WriteLog(kLogBinary, 1, "short", 0);
  p->WriteLog(kLogBinary, 7, longText.c_str(), 1);

  const std::string raw = LogFile();
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], ExpectedEntry(entries[0], "C:\\www\\a.htm", true, true, 1234));
  EXPECT_EQ(entries[1], ExpectedEntry(entries[1], "short", false, false, 0));
  EXPECT_EQ(entries[2], ExpectedEntry(entries[2], longText, false, true, 7));

  // Short entries carry their terminator and spaces up to 150 bytes.
  const std::string& e = entries[1];
  const size_t end = e.find('\0');
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(e.substr(end + 1), std::string(kLogEntrySize - end - 1, ' '));
  EXPECT_EQ(e.substr(end - 4, 4), "\t\t\r\n");
  // The cut entry ends mid-text, without a terminator.
  EXPECT_EQ(entries[2].find('\0'), std::string::npos);
  EXPECT_EQ(entries[2].substr(kLogEntrySize - 10), std::string(10, 'L'));

  // In the file: every formatted CR LF is CR CR LF; 150 bytes per entry plus
  // one CR per line feed written.
  EXPECT_EQ(raw.rfind("\r\r\nLog: ", 0), 0u);
  EXPECT_NE(raw.find("\t\t Size: 1234 \r\r\n"), std::string::npos);
  size_t lineFeeds = 0;
  for (const std::string& entry : entries) {
    for (char c : entry) lineFeeds += c == '\n';
  }
  EXPECT_EQ(raw.size(), 3 * kLogEntrySize + lineFeeds);
}

TEST_F(Log, EntryLongerThanTheLineBufferIsCutSafely) {
  auto p = NewProcessor();
  const std::string huge(5000, 'H');
  p->WriteLog(kLogText, 1, huge.c_str(), 1);
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], ExpectedEntry(entries[0], huge.substr(0, 300), true, true, 1));
}

TEST_F(Log, EachEntryIsInTheFileOnceWritten) {
  auto p = NewProcessor();
  p->WriteLog(kLogBinary, 1, "first", 0);
  // Read by another stream while ours stays open.
  EXPECT_EQ(LogEntries().size(), 1u);
  p->WriteLog(kLogBinary, 1, "second", 0);
  EXPECT_EQ(LogEntries().size(), 2u);
}

TEST_F(Log, EntriesAreAppendedToAnExistingLog) {
  {
    std::ofstream old(Native("c/WINDOWS/system/VostrelWeb.log"), std::ios::binary);
    old << "older";
  }
  ServerLog("next", false);
  EXPECT_EQ(LogFile().rfind("older\r\r\nLog: ", 0), 0u);
}

TEST_F(Log, FailedOpenLosesTheEntryAndTheNextOneReopens) {
  plat::FailNth(plat::FaultPoint::FileOpen, 1);
  ServerLog("lost", false);
  EXPECT_EQ(LogFile(), "");
  ServerLog("kept", false);
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], ExpectedEntry(entries[0], "kept", false, false, 0));
  EXPECT_FALSE(serverLock_.HeldByCaller());
}

TEST_F(Log, FailedWriteClosesTheStreamAndTheNextEntryReopens) {
  ServerLog("one", false);
  plat::FailNth(plat::FaultPoint::FileWrite, 1);
  ServerLog("two", false);
  ServerLog("three", false);
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries.front(), ExpectedEntry(entries.front(), "one", false, false, 0));
  EXPECT_EQ(entries.back(), ExpectedEntry(entries.back(), "three", false, false, 0));
  EXPECT_FALSE(serverLock_.HeldByCaller());
}

TEST_F(Log, StatusLineFormat) {
  struct Case {
    uint32_t pages;
    int32_t heavyLoads;
    double averageMs;
    const char* line;
  };
  // The accepted count is unsigned: past 2^31 pages it must not turn negative.
  const Case cases[] = {
      {200, 3, 1250.0,
       "STATUS: 200 Pages,   3 High Load Periods,   Average Time Between Pages (seconds):       "
       "1.25"},
      {2147483648u, 0, 0.0,
       "STATUS: 2147483648 Pages,   0 High Load Periods,   Average Time Between Pages "
       "(seconds):       0.00"},
  };
  for (const Case& c : cases) LogStatusLine(c.pages, c.heavyLoads, c.averageMs);
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(entries[i], ExpectedEntry(entries[i], cases[i].line, false, false, 0)) << i;
  }
}

TEST_F(Log, ReleaseFlagReleasesALockTheCallerHeld) {
  ASSERT_EQ(serverLock_.Wait(0), plat::WaitResult::Acquired);
  ServerLog("Server error: ProcessRequest()", true);
  EXPECT_FALSE(serverLock_.HeldByCaller());
  // Without the lock held, the flag changes nothing and entries go on.
  ServerLog("again", true);
  EXPECT_EQ(LogEntries().size(), 2u);
}

TEST_F(Log, EntriesFromManyThreadsNeverInterleave) {
  std::thread threads[4];
  for (int t = 0; t < 4; ++t) {
    threads[t] = std::thread([t] {
      for (int i = 0; i < 20; ++i) ServerLog(("thread " + std::to_string(t)).c_str(), false);
    });
  }
  for (std::thread& t : threads) t.join();
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 80u);
  for (const std::string& e : entries) {
    const size_t at = e.find("thread ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(e, ExpectedEntry(e, e.substr(at, 8), false, false, 0));
  }
}

}  // namespace
}  // namespace vostrel::testing
