// Every journal page at the byte: the log-on form, the Security Warning, the
// editor, and the rendered pages with their skins, colours, links and text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/journal/journal_fixture.h"

namespace vostrel::testing {
namespace {

class JournalPages : public JournalMachine {
 protected:
  std::string Show(const std::string& path) { return Serve("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"); }
  std::string Expected(const PageParts& parts) {
    const std::string page = JournalPageText(parts);
    return Header200(ServerHeader().c_str(), static_cast<long>(page.size())) + page;
  }
  std::string ServerHeader() { return NewProcessor()->ServerHeader; }
  std::string LogOn(const std::string& user, const std::string& password, const std::string& page) {
    std::string body = "UserName=" + user + "&Password=" + password;
    if (!page.empty()) body += "&PAGE_NUMBER=" + page;
    return Post(body + "&ActionID=JOURNAL_ADMIN");
  }
};

TEST_F(JournalPages, LogOnFormForGetAndHead) {
  const std::string expected = Header200(ServerHeader().c_str(), -1) + LoginPageText();
  EXPECT_EQ(Serve("GET /JOURNAL_ADMIN HTTP/1.1\r\nHost: x\r\n\r\n"), expected);
  EXPECT_EQ(Serve("HEAD /JOURNAL_ADMIN HTTP/1.1\r\nHost: x\r\n\r\n"), expected);
}

TEST_F(JournalPages, NeverSavedPageFour) {
  PageParts parts;
  parts.previous = "3";
  parts.next = "5";
  parts.page = "4";
  EXPECT_EQ(Show("/JOURNAL_SHOW4"), Expected(parts));
}

TEST_F(JournalPages, LinksInBaseThirteen) {
  const struct {
    const char* path;
    const char* previous;
    const char* next;
    const char* page;
  } cases[] = {
      {"/JOURNAL_SHOW1", "1", "2", "1"},      {"/JOURNAL_SHOW9", "8", "a", "9"},
      {"/JOURNAL_SHOW12", "b", "10", "12"},   {"/JOURNAL_SHOW500", "2c5", "2c7", "500"},
      {"/JOURNAL_SHOW", "1", "2", "1"},       {"/JOURNAL_SHOW0", "1", "2", "1"},
      {"/JOURNAL_SHOWx", "1", "2", "1"},      {"/JOURNAL_SHOWa", "1", "2", "1"},
      {"/JOURNAL_SHOW10", "9", "b", "10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    PageParts parts;
    parts.previous = c.previous;
    parts.next = c.next;
    parts.page = c.page;
    EXPECT_EQ(Show(c.path), Expected(parts));
  }
}

TEST_F(JournalPages, SkinsChooseTheImages) {
  const struct {
    int skin;
    const char* background;
    const char* header;
    const char* left1;
  } cases[] = {
      {0, "B.png", "T.png", "L1.png"},
      {1, "VBlogBackground2.PNG", "VBlogHeader2.PNG", "L1.png"},
      {2, "VBlogBackground3.PNG", "VBlogHeader3.PNG", "VBlogLeft3.PNG"},
      {7, "VBlogBackground.PNG", "VBlogHeader.PNG", "L1.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.skin);
    JournalPageRecord r = NewRecord(6);
    r.SkinIndex = c.skin;
    std::strcpy(r.TopGraphic, "T.png");
    std::strcpy(r.BackgroundGraphic, "B.png");
    std::strcpy(r.LeftGraphic1, "L1.png");
    std::strcpy(r.LeftGraphic2, "L2.png");
    std::strcpy(r.LeftGraphic3, "L3.png");
    PutPage(r);
    PageParts parts;
    parts.background = c.background;
    parts.header = c.header;
    parts.left1 = c.left1;
    parts.left2 = "L2.png";
    parts.left3 = "L3.png";
    parts.previous = "5";
    parts.next = "7";
    parts.page = "6";
    EXPECT_EQ(Show("/JOURNAL_SHOW6"), Expected(parts));
  }
}

TEST_F(JournalPages, DefaultNamesUnderOtherSkinsAndFullWidthNames) {
  // Skin 1 with no names of its own, and a 24-character name that fills its field.
  JournalPageRecord r = NewRecord(2);
  r.SkinIndex = 1;
  std::memcpy(r.LeftGraphic2, "abcdefghijklmnopqrst.png", kImageNameSize);
  PutPage(r);
  PageParts parts;
  parts.background = "VBlogBackground2.PNG";
  parts.header = "VBlogHeader2.PNG";
  parts.left2 = "abcdefghijklmnopqrst.png";
  parts.previous = "1";
  parts.next = "3";
  parts.page = "2";
  EXPECT_EQ(Show("/JOURNAL_SHOW2"), Expected(parts));
}

TEST_F(JournalPages, FontColours) {
  const struct {
    int index;
    const char* color;
  } cases[] = {{0, "blue"}, {2, "red"}, {8, "silver"}, {9, "blue"}, {-1, "blue"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    JournalPageRecord r = NewRecord(1);
    r.FontColorIndex = c.index;
    PutPage(r);
    PageParts parts;
    parts.color = c.color;
    EXPECT_EQ(Show("/JOURNAL_SHOW1"), Expected(parts));
  }
}

TEST_F(JournalPages, TextCodesAndMarkup) {
  const struct {
    const char* stored;
    const char* shown;
  } cases[] = {
      {"[B]bold[/B] and [i]x[/i]", "<B>bold</B> and [i]x[/i]"},
      {"[I]it[/I][B][b]", "<I>it</I><B>[b]"},
      {"a\x03" "b\x04" "c\x05" "d\x06" "e", "a\nb\rc'd\"e"},
      {"Line 1\x04\x03Line 2", "Line 1\r\nLine 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    JournalPageRecord r = NewRecord(1);
    std::strcpy(r.JournalText, c.stored);
    PutPage(r);
    PageParts parts;
    parts.text = c.shown;
    EXPECT_EQ(Show("/JOURNAL_SHOW1"), Expected(parts));
  }
}

TEST_F(JournalPages, PageLargerThanTheContentBufferIsSentWhole) {
  JournalPageRecord r = NewRecord(1);
  std::memset(r.JournalText, 'w', sizeof(r.JournalText));  // fills the field, no terminator
  PutPage(r);
  PageParts parts;
  parts.text = std::string(kJournalTextSize, 'w');
  const std::string expected = Expected(parts);
  ASSERT_GT(JournalPageText(parts).size(), static_cast<std::size_t>(kProcessorSize));
  EXPECT_EQ(Show("/JOURNAL_SHOW1"), expected);
}

TEST_F(JournalPages, NoStoreGivesNoPage) {
  withStore_ = false;
  const std::string response = Show("/JOURNAL_SHOW1");
  EXPECT_EQ(response.rfind("HTTP/1.1 404 File Not Found\r\n", 0), 0u) << response;
  EXPECT_EQ(Serve("GET /JOURNAL_ADMIN HTTP/1.1\r\n\r\n"), "");
  EXPECT_EQ(Post("UserName=Chief&Password=secret&ActionID=JOURNAL_ADMIN"), "");
}

TEST_F(JournalPages, SecurityWarningForRefusedLogOns) {
  const struct {
    const char* what;
    const char* configured;
    const char* user;
    const char* password;
    bool accepted;
  } cases[] = {
      {"right", "secret", "Chief", "secret", true},
      {"longer user name", "secret", "ChiefEditor", "secret", true},
      {"lower case", "secret", "chief", "secret", false},
      {"four letters", "secret", "Chie", "secret", false},
      {"wrong password", "secret", "Chief", "secreT", false},
      {"password prefix", "secret", "Chief", "secre", false},
      {"empty configured, empty sent", "", "Chief", "", false},
      {"empty configured, some sent", "", "Chief", "x", false},
      {"configured 25 characters", "abcdefghijklmnopqrstuvwxy", "Chief", "abcdefghijklmnopqrstuvwxy", false},
      {"configured 24 characters", "abcdefghijklmnopqrstuvwx", "Chief", "abcdefghijklmnopqrstuvwx", true},
      {"escaped form compared as sent", "a b", "Chief", "a+b", false},
      {"plus configured", "a+b", "Chief", "a+b", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    password_ = c.configured;
    const std::string response = LogOn(c.user, c.password, "1");
    const std::string header = Header200(ServerHeader().c_str(), -1);
    if (c.accepted) {
      EXPECT_EQ(response.rfind(header + "<HTML><HEAD><TITLE>Journal Administration Page</TITLE>", 0), 0u);
    } else {
      EXPECT_EQ(response, header + SecurityWarningText());
    }
  }
}

TEST_F(JournalPages, EditorOfANeverSavedPage) {
  const std::string header = Header200(ServerHeader().c_str(), -1);
  EditorParts parts;
  parts.pageEcho = "7";
  EXPECT_EQ(LogOn("Chief", kPassword, "7"), header + EditorPageText(parts));
  // No page number: page 1, and the script writes an empty one.
  parts.pageEcho = "";
  EXPECT_EQ(LogOn("Chief", kPassword, ""), header + EditorPageText(parts));
}

TEST_F(JournalPages, EditorOfASavedPageThree) {
  const std::vector<std::string> files = MakeImages({"a.png", "b.png", "c.png"});
  ASSERT_EQ(files.size(), 3u);
  JournalPageRecord r = NewRecord(3);
  r.SkinIndex = 2;       // "Groovy"
  r.FontColorIndex = 2;  // "red"
  std::strcpy(r.TopGraphic, "b.png");
  std::strcpy(r.LeftGraphic3, "c.png");
  std::strcpy(r.JournalText, "a\x03" "b\x04" "c\x05" "d\x06" "e");
  PutPage(r);
  EditorParts parts;
  parts.storedText = "a\x03" "b\x04" "c\x05" "d\x06" "e";
  parts.imageFiles = files;
  parts.top = "b.png";
  parts.left3 = "c.png";
  parts.colorSelected = 2;
  parts.pageEcho = "3";
  EXPECT_EQ(LogOn("Chief", kPassword, "3"), Header200(ServerHeader().c_str(), -1) + EditorPageText(parts));
}

TEST_F(JournalPages, ImageListOffersTheCurrentNameInPlaceOfTheFirstFile) {
  const std::vector<std::string> files = MakeImages({"a.png", "b.png", "c.png"});
  auto p = NewProcessor();
  ASSERT_TRUE(p->GrowResponseBuffer(kJournalArea));
  p->AddImageSelect(p->Response, "TOP_GRAPHIC", "Page Top Graphic", "VBlogHeader.PNG");
  std::string expected = "\r\n\tPage Top Graphic <SELECT NAME=\"TOP_GRAPHIC\">"
                         "\t\t<OPTION SELECTED Value=\"VBlogHeader.PNG\">VBlogHeader.PNG\r\n";
  for (std::size_t i = 1; i < files.size(); ++i)
    expected += "\t\t<OPTION Value=\"" + files[i] + "\">" + files[i] + "\r\n";
  expected += "\t</SELECT>";
  EXPECT_EQ(std::string(p->Response), expected);
}

TEST_F(JournalPages, EditorEchoesOnlyASafePageNumber) {
  const struct {
    const char* sent;  // as it stands in the body
    const char* echo;
    int page;          // the page the editor reads
  } cases[] = {
      {"abc", "abc", 0}, {"0", "0", 0}, {"+12", "+12", 12}, {"-1", "-1", -1},
      {"3%22", "322", 3}, {"3\"x", "3x", 3}, {"3';x", "3x", 3}, {"12345678", "12345", 12345},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    JournalPageRecord r = NewRecord(c.page);
    std::strcpy(r.JournalText, "mark");
    if (c.page >= 0) PutPage(r);
    EditorParts parts;
    parts.pageEcho = c.echo;
    parts.storedText = c.page >= 0 ? "mark" : "";
    EXPECT_EQ(LogOn("Chief", kPassword, c.sent), Header200(ServerHeader().c_str(), -1) + EditorPageText(parts));
  }
}

TEST_F(JournalPages, EditorKeepsABackslashInsideItsScriptStrings) {
  JournalPageRecord r = NewRecord(1);
  std::strcpy(r.JournalText, "C:\\dir\\");
  PutPage(r);
  const std::string response = LogOn("Chief", kPassword, "1");
  EXPECT_NE(response.find("var strBlogData = 'C:\\\\dir\\\\';"), std::string::npos);
  EXPECT_NE(response.find("WRAP=NONE>C:\\dir\\</TEXTAREA>"), std::string::npos);
  EXPECT_NE(response.find(" strBlogData = 'C:\\\\dir\\\\';"), std::string::npos);
}

TEST_F(JournalPages, EditorNeverWritesPastItsArea) {
  // More options than the area can hold: 12000 names of 60 characters.
  std::vector<std::string> names;
  for (int i = 0; i < 12000; ++i) {
    std::string n = "image-" + std::to_string(i);
    names.push_back(n + std::string(60 - n.size(), 'x'));
  }
  MakeImages(names);
  JournalPageRecord r = NewRecord(1);
  std::memset(r.JournalText, 'q', sizeof(r.JournalText));
  PutPage(r);
  const std::string response = LogOn("Chief", kPassword, "1");
  EXPECT_LT(response.size(), static_cast<std::size_t>(kJournalArea));
  const std::string tail = std::string(kJournalTextSize, 'q') + "';" +
                           "\r\n\t\t document.forms[0].JOURNALPOST.value = RestoreLfCr(strBlogData);";
  EXPECT_NE(response.find(tail), std::string::npos);
  const std::string end = "</FORM>\r\n</BODY>\r\n</HTML>\r\n";
  ASSERT_GE(response.size(), end.size());
  EXPECT_EQ(response.substr(response.size() - end.size()), end);
  EXPECT_NE(response.find("<SELECT NAME=\"FONT_COLOR\">"), std::string::npos);
}

}  // namespace
}  // namespace vostrel::testing
