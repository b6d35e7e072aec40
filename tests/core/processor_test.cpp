// The request processor driven from memory buffers: request text in, the
// response bytes and the log entries out.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "platform/faults/faults.h"
#include "platform/memory/memory.h"

namespace vostrel::testing {
namespace {

const char kStatus403[] = "HTTP/1.1 403 Forbidden\r\n";
const char kStatus404[] = "HTTP/1.1 404 File Not Found\r\n";
const char kStatus501[] = "HTTP/1.1 501 Unknown Error\r\n";

class Processor : public CoreMachine {
 protected:
  std::string Header(long length, bool text = true) {
    return Header200(NewProcessor()->ServerHeader, length, text);
  }
  std::string Error(const char* status, const char* message = nullptr) {
    return ErrorResponse(NewProcessor()->ServerHeader, status, message ? message : status);
  }
};

TEST_F(Processor, ServerHeaderIsWholeLinesNamingServerAndVersion) {
  auto p = NewProcessor();
  const std::string h = p->ServerHeader;
  EXPECT_EQ(h.size(), 46u);
  EXPECT_EQ(h.rfind("Server: Vostrel Web Server", 0), 0u) << h;
  EXPECT_NE(h.find("1.1.5"), std::string::npos);
  ASSERT_GE(h.size(), 2u);
  EXPECT_EQ(h.substr(h.size() - 2), "\r\n");
  for (size_t i = 0; i < h.size(); ++i) {
    if (h[i] == '\r') {
      EXPECT_EQ(h[i + 1], '\n');
    } else if (h[i] == '\n') {
      EXPECT_EQ(h[i - 1], '\r');
    } else {
      EXPECT_TRUE(h[i] >= 0x20 && h[i] < 0x7F) << i;
    }
  }
}

struct PieceCase {
  std::string request;
  int index;
  std::string piece;
};

TEST_F(Processor, PiecesOfTheRequestLine) {
  const std::string tooLarge = "GET /a.htm HTTP/1.1\r\n" + std::string(8000, 'x');
  const std::string noSpace(300, 'A');
  const std::string lateSpace = std::string(256, 'A') + " /x HTTP/1.1";
  const std::vector<PieceCase> cases = {
      {"GET /a.htm HTTP/1.1", 1, "GET"},
      {"GET /a.htm HTTP/1.1", 2, " /a.htm"},
      {"GET /a.htm HTTP/1.1", 3, "AABadFileName.htm"},  // the last piece has no end
      {"GET /a.htm HTTP/1.1", 0, "AABadFileName.htm"},
      {"GET /index.htm", 2, "AABadFileName.htm"},
      {"GET", 1, "AABadFileName.htm"},
      {"", 1, "AABadFileName.htm"},
      {" GET /a", 1, " GET"},  // a leading space is no piece end
      {"GET  /a HTTP", 2, " "},
      {noSpace, 1, "AABadFileName.htm"},
      {lateSpace, 1, "AABadFileName.htm"},  // its only space lies beyond the 256 looked at
      {tooLarge, 1, "ClientDataTooLarge.htm"},
      {tooLarge, 2, "ClientDataTooLarge.htm"},
      {std::string(7999, 'G'), 1, "AABadFileName.htm"},
  };
  for (const PieceCase& c : cases) {
    auto p = NewProcessor();
    char out[kTextSize];
    std::memset(out, 'Z', sizeof out);
    p->GetPieceOfRequest(c.index, c.request.c_str(), out);
    EXPECT_EQ(std::string(out), c.piece) << c.request.substr(0, 40) << " #" << c.index;
  }
}

TEST_F(Processor, PieceEndingAt256IsRefused) {
  auto p = NewProcessor();
  // Spaces at 3 and 256: the second piece would end beyond the 256 looked at.
  std::string request = "GET " + std::string(252, 'a') + " HTTP/1.1";
  ASSERT_EQ(request[256], ' ');
  char out[kTextSize];
  p->GetPieceOfRequest(2, request.c_str(), out);
  EXPECT_STREQ(out, "AABadFileName.htm");
  request = "GET " + std::string(251, 'a') + " HTTP/1.1";  // ends at 255
  p->GetPieceOfRequest(2, request.c_str(), out);
  EXPECT_EQ(std::string(out), " " + std::string(251, 'a'));
}

TEST_F(Processor, AllowedFileNames) {
  auto p = NewProcessor();
  const std::vector<std::pair<std::string, bool>> cases = {
      {"\\a.htm", true},      {"\\docs\\a.htm", true}, {"\\a.b.htm", false},
      {"\\..\\x.htm", false}, {"\\%41.htm", false},    {"%a.htm", true},  // first char unseen
      {".\\a", true},         {"\\..", false},         {"\\noext", true},
  };
  for (const auto& [name, allowed] : cases) {
    EXPECT_EQ(p->IsAllowedFileName(name.c_str()), allowed) << name;
  }
}

TEST_F(Processor, FixFileNameTurnsEverySlash) {
  auto p = NewProcessor();
  char piece[kTextSize] = {};
  std::strcpy(piece, " /docs/sub/a.htm");
  piece[200] = '/';  // beyond the terminator too: the whole buffer
  p->FixFileName(piece);
  EXPECT_STREQ(piece, " \\docs\\sub\\a.htm");
  EXPECT_EQ(piece[200], '\\');
}

TEST_F(Processor, RefusedPathsGet403) {
  WriteDoc("a.b.htm", "x");
  WriteDoc("x.htm", "x");
  WriteDoc("A.htm", "x");
  for (const char* path : {"/a.b.htm", "/../x.htm", "/%41.htm"}) {
    EXPECT_EQ(Serve(std::string("GET ") + path + " HTTP/1.1\r\n\r\n"), Error(kStatus403)) << path;
  }
}

TEST_F(Processor, TextFileOf1234BytesHasTheExactHeaderBlock) {
  const std::string body(1234, 'h');
  WriteDoc("docs/a.htm", body);
  EXPECT_EQ(Serve("GET /docs/a.htm HTTP/1.1\r\nHost: x\r\n\r\n"), Header(1234) + body);
}

TEST_F(Processor, TextFlagFollowsBytesAbove0x80) {
  std::string binary = "GIF89a";
  binary += '\x81';
  binary += std::string("\0\0rest", 6);
  std::string edge = "only \x80 here";
  std::string high = "top \xff";
  WriteDoc("b.gif", binary);
  WriteDoc("edge.htm", edge);
  WriteDoc("high.htm", high);
  EXPECT_EQ(Serve("GET /b.gif HTTP/1.1\r\n\r\n"), Header(binary.size(), false) + binary);
  EXPECT_EQ(Serve("GET /edge.htm HTTP/1.1\r\n\r\n"), Header(edge.size(), true) + edge);
  EXPECT_EQ(Serve("GET /high.htm HTTP/1.1\r\n\r\n"), Header(high.size(), false) + high);
}

// Files read in blocks: content, length and text flag as a byte-wise read
// gives them, at sizes around block edges, with the only high byte last.
TEST_F(Processor, LargeFilesKeepEveryByteAndTheTailDecidesTheFlag) {
  std::mt19937 random(7);
  for (size_t size : {size_t{1}, size_t{4095}, size_t{65537}, size_t{3 * 1024 * 1024 + 5}}) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 0x81);  // 0x00..0x80: text
    WriteDoc("t.bin", bytes);
    EXPECT_EQ(Serve("GET /t.bin HTTP/1.1\r\n\r\n"), Header(size, true) + bytes) << size;
    bytes.back() = '\x81';
    WriteDoc("t.bin", bytes);
    EXPECT_EQ(Serve("GET /t.bin HTTP/1.1\r\n\r\n"), Header(size, false) + bytes) << size;
  }
}

TEST_F(Processor, RootServesIndexAndLogsTheRoot) {
  WriteDoc("index.htm", "<p>home</p>");
  EXPECT_EQ(Serve("GET / HTTP/1.1\r\n\r\n"), Header(11) + "<p>home</p>");
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], ExpectedEntry(entries[0], kRoot, true, true, 11));
}

TEST_F(Processor, MethodsAreComparedByCaseSensitivePrefix) {
  WriteDoc("a.htm", "abc");
  EXPECT_EQ(Serve("GETX /a.htm HTTP/1.1\r\n\r\n"), Header(3) + "abc");
  EXPECT_EQ(Serve("HEADY /a.htm HTTP/1.1\r\n\r\n"), Header(3));
  EXPECT_EQ(Serve("get /a.htm HTTP/1.1\r\n\r\n"), Error(kStatus501));
}

TEST_F(Processor, UnknownMethodsGet501NeverTheEmptyBuffer) {
  WriteDoc("a.htm", "abc");
  const std::vector<std::string> requests = {
      "PUT /a.htm HTTP/1.1\r\n\r\n",
      "GET /a.htm HTTP/1.1\r\n" + std::string(8000, 'x'),  // too large: every piece refused
      std::string(300, 'G'),                               // no space in the first 256
      "",
  };
  for (const std::string& r : requests) {
    EXPECT_EQ(Serve(r), Error(kStatus501)) << r.substr(0, 30);
  }
}

TEST_F(Processor, OneSpaceRequestServesBadFileName) {
  WriteDoc("BadFileName.htm", "bad name page");
  WriteDoc("index.htm", "index");
  EXPECT_EQ(Serve("GET /index.htm"), Header(13) + "bad name page");
}

TEST_F(Processor, HeadGivesTheGetHeaderBlockWithoutBody) {
  const std::string body(500, 'q');
  WriteDoc("a.htm", body);
  const std::string get = Serve("GET /a.htm HTTP/1.1\r\n\r\n");
  const std::string head = Serve("HEAD /a.htm HTTP/1.1\r\n\r\n");
  EXPECT_EQ(head, Header(500));
  EXPECT_EQ(get, head + body);
}

TEST_F(Processor, MissingEmptyAndDirectoryGet404) {
  WriteDoc("empty.htm", "");
  WriteDoc("dir/inner.htm", "x");
  for (const char* path : {"/missing.htm", "/empty.htm", "/dir", "/dir/"}) {
    EXPECT_EQ(Serve(std::string("GET ") + path + " HTTP/1.1\r\n\r\n"), Error(kStatus404)) << path;
  }
}

TEST_F(Processor, MissingFileLogsItsPathWithSizeZero) {
  Serve("GET /missing.htm HTTP/1.1\r\n\r\n");
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], ExpectedEntry(entries[0], "C:\\www\\missing.htm", true, true, 0));
}

TEST_F(Processor, ManagerProbeIsAHeadForTTP11) {
  EXPECT_EQ(Serve(std::string("HEAD HTTP1.1 \\")), Error(kStatus404));
  WriteDoc("TTP1.1", "probe");
  EXPECT_EQ(Serve(std::string("HEAD HTTP1.1 \\")), Header(5));
}

TEST_F(Processor, LowMemoryGives500AndTwoLogEntries) {
  WriteDoc("big.htm", std::string(600, 'b'));
  plat::SetAvailablePhysicalMemoryForTest(1200);  // 2 x 600 is not below it
  EXPECT_EQ(Serve("GET /big.htm HTTP/1.1\r\nUser-Agent: T\r\n\r\n"),
            Error("HTTP/1.1 500 Server Memory Low\r\n", "HTTP/1.1 500 Low Server Memory\r\n"));
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0],
            ExpectedEntry(entries[0],
                          "\r\nThere was insufficient memory on the server to deliver the "
                          "following file: \r\n",
                          true, false, 0));
  EXPECT_EQ(entries[1], ExpectedEntry(entries[1], "C:\\www\\big.htm", true, true, 1000));
  plat::SetAvailablePhysicalMemoryForTest(1201);
  EXPECT_EQ(Serve("GET /big.htm HTTP/1.1\r\n\r\n"), Header(600) + std::string(600, 'b'));
}

TEST_F(Processor, FailedGrowthStillAnswers500) {
  WriteDoc("a.htm", "abc");
  const std::string expected =
      Error("HTTP/1.1 500 Server Memory Low\r\n", "HTTP/1.1 500 Low Server Memory\r\n");
  auto p = NewProcessor();
  char* before = p->Response;
  // Allocations from here: the file's content, then the response growth.
  plat::FailNth(plat::FaultPoint::Allocation, 2);
  EXPECT_EQ(ServeWith(*p, "GET /a.htm HTTP/1.1\r\n\r\n"), expected);
  EXPECT_EQ(p->Response, before);
  EXPECT_EQ(p->ResponseSize, kProcessorSize);
}

TEST_F(Processor, GrowResponseBufferKeepsTheOldBufferOnFailure) {
  auto p = NewProcessor();
  std::strcpy(p->Response, "kept");
  plat::FailNth(plat::FaultPoint::Allocation, 1);
  EXPECT_FALSE(p->GrowResponseBuffer(500));
  EXPECT_STREQ(p->Response, "kept");
  EXPECT_TRUE(p->GrowResponseBuffer(500));
  EXPECT_EQ(p->ResponseSize, 10500);
  EXPECT_EQ(p->Length, 10000);
  EXPECT_EQ(std::string(p->Response, 10500), std::string(10500, '\0'));
  EXPECT_FALSE(p->GrowResponseBuffer(-1));
}

TEST_F(Processor, UnreadableFileGets404WithSizeZeroLogged) {
  WriteDoc("a.htm", "secret bytes");
  auto p = NewProcessor();
  p->LogError("open the log first");
  plat::FailNth(plat::FaultPoint::FileOpen, 1);
  EXPECT_EQ(ServeWith(*p, "GET /a.htm HTTP/1.1\r\n\r\n"), Error(kStatus404));
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], ExpectedEntry(entries[1], "C:\\www\\a.htm", true, true, 0));
}

TEST_F(Processor, FailedReadLeavesZerosNeverOldMemory) {
  WriteDoc("a.htm", std::string(3000, 'r'));
  const std::string header = Header(3000);
  plat::FailNth(plat::FaultPoint::FileRead, 1);
  EXPECT_EQ(Serve("GET /a.htm HTTP/1.1\r\n\r\n"), header + std::string(3000, '\0'));
}

TEST_F(Processor, UnreadableFileTooLargeForMemoryStillGets500) {
  WriteDoc("a.htm", std::string(600, 'b'));
  const std::string expected =
      Error("HTTP/1.1 500 Server Memory Low\r\n", "HTTP/1.1 500 Low Server Memory\r\n");
  plat::SetAvailablePhysicalMemoryForTest(1000);
  auto p = NewProcessor();
  p->LogError("open the log first");
  plat::FailNth(plat::FaultPoint::FileOpen, 1);
  EXPECT_EQ(ServeWith(*p, "GET /a.htm HTTP/1.1\r\n\r\n"), expected);
}

TEST_F(Processor, ContentAllocationFailureIsAnsweredAsLowMemory) {
  WriteDoc("a.htm", "abc");
  const std::string expected =
      Error("HTTP/1.1 500 Server Memory Low\r\n", "HTTP/1.1 500 Low Server Memory\r\n");
  plat::FailNth(plat::FaultPoint::Allocation, 3);  // the processor's two buffers, then the file
  auto p = NewProcessor();
  EXPECT_EQ(ServeWith(*p, "GET /a.htm HTTP/1.1\r\n\r\n"), expected);
}

TEST_F(Processor, ProcessorWithoutBuffersGivesNothing) {
  plat::FailNth(plat::FaultPoint::Allocation, 1, true);
  auto p = NewProcessor();
  plat::ClearFaults();
  EXPECT_EQ(p->Response, nullptr);
  EXPECT_EQ(ServeWith(*p, "GET /a.htm HTTP/1.1\r\n\r\n"), "<none>");
}

TEST_F(Processor, JournalPathsWithoutStore) {
  // No store: the journal renders no page, so 404; the admin action and a
  // POST append nothing.
  EXPECT_EQ(Serve("GET /JOURNAL_SHOW3 HTTP/1.1\r\n\r\n"), Error(kStatus404));
  EXPECT_EQ(Serve("GET /JOURNAL_ADMIN HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(Serve("POST /x HTTP/1.1\r\n\r\nActionID=JOURNAL_SAVE"), "");
}

TEST_F(Processor, JournalBufferFailureSendsTheOutOfMemoryText) {
  for (const char* request : {"GET /JOURNAL_ADMIN HTTP/1.1\r\n\r\n", "POST / HTTP/1.1\r\n\r\n"}) {
    auto p = NewProcessor();
    plat::FailNth(plat::FaultPoint::Allocation, 1);
    EXPECT_EQ(ServeWith(*p, request), "Out of Memory.  Sorry.") << request;
    EXPECT_EQ(p->GetLength(), 22);
  }
}

TEST_F(Processor, UserAgentLineIsLoggedWholeOrNotAtAll) {
  WriteDoc("a.htm", std::string(1234, 't'));
  Serve("GET /a.htm HTTP/1.1\r\nHost: h\r\nUser-Agent: Mozilla/5.0 (X11)\r\nAccept: */*\r\n\r\n");
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], ExpectedEntry(entries[0], "C:\\www\\a.htm", true, true, 1234));
  EXPECT_EQ(entries[1], ExpectedEntry(entries[1], "User-Agent: Mozilla/5.0 (X11)", true, false, 0));

  Serve("GET /a.htm HTTP/1.1\r\nHost: h\r\nuser-agent: lower\r\n\r\n");
  EXPECT_EQ(LogEntries().size(), 3u);  // only the path entry more
}

TEST_F(Processor, GetUserAgentCases) {
  auto p = NewProcessor();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"GET / HTTP/1.1\r\nUser-Agent: A b\r\n\r\n", "User-Agent: A b"},
      {"GET / HTTP/1.1\r\nUser-Agent: end", "User-Agent: end"},
      {"User-Agen", ""},
      {"GET / HTTP/1.1\r\nUser-Agent: 1\nUser-Agent: 2\r\n", "User-Agent: 1User-Agent: 2"},
      {"GET / HTTP/1.1\r\nUser-Agent: " + std::string(400, 'z'),
       ("User-Agent: " + std::string(400, 'z')).substr(0, 256)},
  };
  for (const auto& [request, agent] : cases) {
    char out[292];
    std::memset(out, 'Z', sizeof out);
    out[256] = '\0';
    p->GetUserAgent(out, request.c_str());
    EXPECT_EQ(std::string(out), agent) << request.substr(0, 40);
  }
}

TEST_F(Processor, BinaryFileEntriesAreOfKindBinary) {
  WriteDoc("b.gif", "GIF\xC8");
  Serve("GET /b.gif HTTP/1.1\r\nUser-Agent: U\r\n\r\n");
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], ExpectedEntry(entries[0], "C:\\www\\b.gif", false, true, 4));
  EXPECT_EQ(entries[1], ExpectedEntry(entries[1], "User-Agent: U", false, false, 0));
}

TEST_F(Processor, ResponseHeaderWithoutLengthAndAfterText) {
  auto p = NewProcessor();
  std::strcpy(p->Response, "before|");
  EXPECT_TRUE(p->BuildResponseHeader(p->Response, p->ServerHeader, "-1", true));
  EXPECT_EQ(std::string(p->Response), "before|" + Header200(p->ServerHeader, -1, true));
}

TEST_F(Processor, ResponseHeaderThatDoesNotFitAppendsNothing) {
  auto p = NewProcessor();
  std::memset(p->Response, 'x', p->ResponseSize - 100);
  EXPECT_FALSE(p->BuildResponseHeader(p->Response, p->ServerHeader, "12", true));
  EXPECT_EQ(std::strlen(p->Response), static_cast<size_t>(p->ResponseSize - 100));
}

struct ErrorCase {
  int code;
  std::string status;
  std::string message;
};

TEST_F(Processor, ErrorResponsesByCode) {
  const std::vector<ErrorCase> cases = {
      {403, "HTTP/1.1 403 Forbidden\r\n", "HTTP/1.1 403 Forbidden\r\n"},
      {404, "HTTP/1.1 404 File Not Found\r\n", "HTTP/1.1 404 File Not Found\r\n"},
      {500, "HTTP/1.1 500 Server Memory Low\r\n", "HTTP/1.1 500 Low Server Memory\r\n"},
      {502, "HTTP/1.1 502 Database Access Error on Web Server\r\n",
       "HTTP/1.1 502 Database Access Error on Web Server\r\n"},
      {501, "HTTP/1.1 501 Unknown Error\r\n", "HTTP/1.1 501 Unknown Error\r\n"},
      {418, "HTTP/1.1 501 Unknown Error\r\n", "HTTP/1.1 501 Unknown Error\r\n"},
  };
  for (const ErrorCase& c : cases) {
    auto p = NewProcessor();
    char message[kTextSize];
    std::memset(message, 'Z', sizeof message);
    p->GetStatusMessage(message, c.code);
    EXPECT_EQ(std::string(message), c.message);
    EXPECT_EQ(std::string(message, kTextSize),
              c.message + std::string(kTextSize - c.message.size(), '\0'));
    // Appended directly after what the buffer holds.
    std::strcpy(p->Response, "journal text");
    p->BuildErrorResponse(c.code, p->Response);
    EXPECT_EQ(std::string(p->Response),
              "journal text" + ErrorResponse(p->ServerHeader, c.status, c.message))
        << c.code;
  }
}

TEST_F(Processor, ErrorResponseNeverRunsPastTheBuffer) {
  auto p = NewProcessor();
  std::memset(p->Response, 'x', p->ResponseSize - 200);
  p->BuildErrorResponse(404, p->Response);
  const size_t length = std::strlen(p->Response);
  EXPECT_LT(length, static_cast<size_t>(p->ResponseSize));
  EXPECT_EQ(std::string(p->Response + p->ResponseSize - 200).rfind("HTTP/1.1 404", 0), 0u);
}

}  // namespace
}  // namespace vostrel::testing
