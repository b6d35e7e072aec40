// The journal save through the request dispatcher with a real store: what is
// stored, what is answered, the log entries, and the refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "server/journal/JournalBuffer.h"
#include "tests/journal/journal_fixture.h"

namespace vostrel::testing {
namespace {

class JournalSave : public JournalMachine {
 protected:
  std::string Show(int page) {
    return Serve("GET /JOURNAL_SHOW" + std::to_string(page) + " HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  std::string ServerHeader() { return NewProcessor()->ServerHeader; }
  std::string Error502() {
    return ErrorResponse(ServerHeader().c_str(), "HTTP/1.1 502 Database Access Error on Web Server\r\n",
                         "HTTP/1.1 502 Database Access Error on Web Server\r\n");
  }
  static std::string Text(const JournalPageRecord& r) {
    return std::string(r.JournalText, BoundedLength(r.JournalText, sizeof(r.JournalText)));
  }
  static std::string Name(const char* field) { return std::string(field, BoundedLength(field, kImageNameSize)); }
};

TEST_F(JournalSave, StoresAndAnswersWithThePageThatAGetReturns) {
  const std::string response =
      Post("ActionID=JOURNAL_SAVE&PAGE_NUMBER=2&JOURNALPOST=Line+1%0D%0ALine+2%21");
  PageParts parts;
  parts.text = "Line 1\r\nLine 2!";
  parts.next = "3";
  parts.page = "2";
  const std::string page = JournalPageText(parts);
  EXPECT_EQ(response, Header200(ServerHeader().c_str(), static_cast<long>(page.size())) + page);
  EXPECT_EQ(Show(2), response);

  const JournalPageRecord r = ReadPage(2);
  EXPECT_EQ(r.Key, 2);
  EXPECT_EQ(r.IndexNumber, 1);
  EXPECT_EQ(r.Unused12, 0);
  EXPECT_EQ(r.Unused16, 0);
  EXPECT_EQ(r.Columns, 2);
  EXPECT_EQ(Text(r), "Line 1\x04\x03Line 2!");
}

TEST_F(JournalSave, WritesTwoShowEntriesToTheLog) {
  const std::string response = Post("ActionID=JOURNAL_SAVE&PAGE_NUMBER=2&JOURNALPOST=x");
  const std::size_t headerEnd = response.find("\r\n\r\n") + 4;
  const std::string log = LogText();
  std::vector<long> sizes;
  const std::string marker = "/JOURNAL_SHOW/ \t\t Size: ";
  for (std::size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
    sizes.push_back(std::stol(log.substr(at + marker.size())));
    EXPECT_NE(log.rfind(" Text  ", at), std::string::npos);
  }
  ASSERT_EQ(sizes.size(), 2u) << log;
  EXPECT_EQ(sizes[0], static_cast<long>(response.size() - headerEnd));
  EXPECT_EQ(sizes[1], static_cast<long>(response.size()));
}

TEST_F(JournalSave, PageNumberChoosesTheKey) {
  const struct {
    const char* field;  // "" leaves the field out
    int key;
  } cases[] = {{"", 1}, {"&PAGE_NUMBER=", 1}, {"&PAGE_NUMBER=0", 1}, {"&PAGE_NUMBER=x", 1},
               {"&PAGE_NUMBER=10", 10}, {"&PAGE_NUMBER=12abc", 12}, {"&PAGE_NUMBER=123456", 12345}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    const std::string response = Post(std::string("ActionID=JOURNAL_SAVE") + c.field + "&JOURNALPOST=" +
                                      std::to_string(c.key) + "+" + std::to_string(std::strlen(c.field)));
    const JournalPageRecord r = ReadPage(c.key);
    EXPECT_EQ(r.Key, c.key);
    EXPECT_EQ(Text(r), std::to_string(c.key) + " " + std::to_string(std::strlen(c.field)));
    EXPECT_NE(response.find(". Page: " + std::to_string(c.key) + "\r\n"), std::string::npos);
    EXPECT_EQ(Show(c.key), response);
  }
}

TEST_F(JournalSave, FieldRules) {
  const std::string longPost(6000, 'p');
  const struct {
    const char* what;
    std::string fields;
    int columns, skin, color;
    const char* top;
    std::string text;
  } cases[] = {
      {"no editor fields", "", 2, 0, 0, "", ""},
      {"columns 0", "&NUMBER_COLUMNS=0", 2, 0, 0, "", ""},
      {"columns 1", "&NUMBER_COLUMNS=1", 2, 0, 0, "", ""},
      {"columns 500", "&NUMBER_COLUMNS=500", 500, 0, 0, "", ""},
      {"colour names are case-sensitive", "&FONT_COLOR=Red&SKIN_NAME=groovy", 2, 0, 0, "", ""},
      {"colour and skin", "&FONT_COLOR=red&SKIN_NAME=Groovy", 2, 2, 2, "", ""},
      {"last colour", "&FONT_COLOR=silver&SKIN_NAME=Shadowball", 2, 1, 8, "", ""},
      {"plus stays in a name", "&TOP_GRAPHIC=My+Pic.png", 2, 0, 0, "My+Pic.png", ""},
      {"escape stays in a name", "&TOP_GRAPHIC=50%25.png", 2, 0, 0, "50%25.png", ""},
      {"name cut to 24", "&TOP_GRAPHIC=abcdefghijklmnopqrstuvwxyz0123", 2, 0, 0, "abcdefghijklmnopqrstuvwx", ""},
      {"name leaves no attribute", "&TOP_GRAPHIC=x\"onerror=\"a()<b>", 2, 0, 0, "xonerror=a()b", ""},
      {"name of forbidden characters only", "&TOP_GRAPHIC=%3C\"<>|", 2, 0, 0, "%3C", ""},
      {"path characters", "&TOP_GRAPHIC=..\\..\\x:y/z*?.png", 2, 0, 0, "....xyz.png", ""},
      {"text decoded", "&JOURNALPOST=it%27s+%60a%60+%22q%22", 2, 0, 0, "", "it\x05s \x06" "a\x06 \x05q\x05"},
      {"raw angle brackets", "&JOURNALPOST=<script>x</script>", 2, 0, 0, "", " script x /script "},
      {"long text: first 5500 sent bytes", "&JOURNALPOST=" + longPost, 2, 0, 0, "", std::string(5500, 'p')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // An earlier page with every setting: nothing of it may survive.
    JournalPageRecord old = NewRecord(1);
    old.Columns = 7;
    old.SkinIndex = 1;
    old.FontColorIndex = 5;
    std::strcpy(old.TopGraphic, "old.png");
    std::strcpy(old.LeftGraphic2, "old2.png");
    std::strcpy(old.JournalText, "old text");
    PutPage(old);
    Post("ActionID=JOURNAL_SAVE&PAGE_NUMBER=1" + c.fields);
    const JournalPageRecord r = ReadPage(1);
    EXPECT_EQ(r.Columns, c.columns);
    EXPECT_EQ(r.SkinIndex, c.skin);
    EXPECT_EQ(r.FontColorIndex, c.color);
    EXPECT_EQ(Name(r.TopGraphic), c.top);
    EXPECT_EQ(Name(r.LeftGraphic2), "");
    EXPECT_EQ(Text(r), c.text);
    for (char b : std::string(r.Unused32, sizeof(r.Unused32)) + std::string(r.Unused176, sizeof(r.Unused176)))
      EXPECT_EQ(b, '\0');
  }
}

TEST_F(JournalSave, EscapedLongTextStoresTheDecodedFirst5500SentBytes) {
  // 5500 sent bytes are 1833 escapes and one more byte.
  std::string sent;
  while (sent.size() < 6000) sent += "%41";
  Post("ActionID=JOURNAL_SAVE&PAGE_NUMBER=1&JOURNALPOST=" + sent);
  EXPECT_EQ(Text(ReadPage(1)), std::string(1833, 'A'));
}

TEST_F(JournalSave, SaveRunsWhateverThePathAndOnlyForTheExactActionId) {
  Post("ActionID=JOURNAL_SAVE&PAGE_NUMBER=5&JOURNALPOST=via+index", "/index.htm");
  EXPECT_EQ(Text(ReadPage(5)), "via index");
  Post("ActionIDX=JOURNAL_SAVE&PAGE_NUMBER=5&JOURNALPOST=via+longer+name");
  EXPECT_EQ(Text(ReadPage(5)), "via longer name");
  for (const char* body : {"ActionID=JOURNAL_SAVEX&PAGE_NUMBER=5&JOURNALPOST=no",
                           "ActionID=journal_save&PAGE_NUMBER=5&JOURNALPOST=no",
                           "ActionID=&PAGE_NUMBER=5&JOURNALPOST=no", "PAGE_NUMBER=5&JOURNALPOST=no",
                           "=x&ActionID=JOURNAL_SAVE&PAGE_NUMBER=5&JOURNALPOST=no"}) {
    SCOPED_TRACE(body);
    EXPECT_EQ(Post(body), "");
    EXPECT_EQ(Text(ReadPage(5)), "via longer name");
  }
}

TEST_F(JournalSave, StoreRefusalIsAnswered502) {
  PutPage(NewRecord(1));
  for (const char* page : {"-1", "-5"}) {
    SCOPED_TRACE(page);
    EXPECT_EQ(Post(std::string("ActionID=JOURNAL_SAVE&JOURNALPOST=lost&PAGE_NUMBER=") + page), Error502());
  }
  EXPECT_EQ(Text(ReadPage(1)), "");
}

TEST_F(JournalSave, ServerLockHeldTooLongIsAnswered502AndNothingIsWritten) {
  std::atomic<bool> held{false};
  std::atomic<bool> done{false};
  std::thread holder([&] {
    serverLock_.Wait(1000);
    held = true;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    serverLock_.Release();
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  auto p = NewProcessor();
  std::string request = "POST /JOURNAL_SAVE HTTP/1.1\r\n\r\nActionID=JOURNAL_SAVE&PAGE_NUMBER=4&JOURNALPOST=x";
  ASSERT_TRUE(p->GrowResponseBuffer(kJournalArea));
  p->SaveJournalPage(request.data(), p->Response);
  const std::string response = p->Response;
  done = true;
  holder.join();
  EXPECT_EQ(response, Error502());
  EXPECT_EQ(ReadPage(4).Key, 0);
}

TEST_F(JournalSave, JournalLockHeldTooLongRunsNoAction) {
  std::atomic<bool> held{false};
  std::atomic<bool> done{false};
  std::thread holder([&] {
    journalLock_.Wait(1000);
    held = true;
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    journalLock_.Release();
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::string response = Post("ActionID=JOURNAL_SAVE&PAGE_NUMBER=4&JOURNALPOST=x");
  done = true;
  holder.join();
  EXPECT_EQ(response, "");
  EXPECT_EQ(ReadPage(4).Key, 0);
}

}  // namespace
}  // namespace vostrel::testing
