// Journal page rendering: one stored page as a whole HTML document, and the
// tables, style and script blocks that the journal pages share.
#include "server/journal/JournalPage.h"

#include <cstring>
#include <string>

#include "common/Unitencryption.h"
#include "platform/faults/faults.h"
#include "server/http/Tpageprocessor.h"
#include "server/journal/JournalBuffer.h"
#include "server/journal/JournalForm.h"

namespace vostrel {

const char* const FontColors[kFontColorCount] = {"blue",   "green", "red",   "brown", "yellow",
                                                 "cyan",   "black", "white", "silver"};
const char* const SkinNames[kSkinCount] = {"None", "Shadowball", "Groovy"};

const char JournalStyle[] =
    " <STYLE TYPE=\"text/css\">\n"
    "    TR.special { font-family: Arial, sans-serif; color: blue; font-size:10pt; background-color: #F6FCFA; }\n"
    "    TD.special { font-family: Arial, sans-serif; color: black; font-size:10pt; }\n"
    "    TD.blackspecial { font-family: Arial, sans-serif; color: black; font-size:10pt; background-color: #F6FCFA; }\n"
    "    BODY.special { font-family: Arial, sans-serif; color: black; font-size:10pt; background-color: #F6FCFA; }\n"
    "    BODY.bluespecial { font-family: Arial, sans-serif; color: blue; font-size:10pt; }\n"
    "    PRE.bluespecial { font-family: Arial, sans-serif; color: blue; font-size:10pt; padding:10px; }\n"
    "    TEXTAREA.special { font-family: Arial, sans-serif; color: blue; font-size:10pt; }\n"
    "    INPUT.special { font-family: Arial, sans-serif; color: blue; font-size:10pt; background-color: #F6FCFA; }\n"
    " </STYLE>\r\n";

// Kept free of "--" and "<!" so it can stand inside the pages' script blocks.
const char JournalScript[] =
    "function GetWidth() {\r\n"
    "  return '' + (screen.availWidth - 20);\r\n"
    "}\r\n"
    "function RestoreLfCr(strData) {\r\n"
    "  var strOut = '';\r\n"
    "  for (var i = 0; i < strData.length; i++) {\r\n"
    "    var c = strData.charAt(i);\r\n"
    "    if (c == '\\x03') c = '\\n';\r\n"
    "    else if (c == '\\x04') c = '\\r';\r\n"
    "    else if (c == '\\x05') c = '\\'';\r\n"
    "    else if (c == '\\x06') c = '`';\r\n"
    "    strOut += c;\r\n"
    "  }\r\n"
    "  return strOut;\r\n"
    "}\r\n"
    "function GetPageNumberString(strPageNumberString) {\r\n"
    "  var l = window.location;\r\n"
    "  l.replace(l.protocol + '//' + l.host + '/' + strPageNumberString);\r\n"
    "}\r\n"
    "function EnableSkinCheck() {\r\n"
    "  var f = document.forms[0];\r\n"
    "  var bOwnImages = f.SKIN_NAME.options[0].selected;\r\n"
    "  var aNames = ['TOP_GRAPHIC', 'LEFT_GRAPHIC1', 'LEFT_GRAPHIC2', 'LEFT_GRAPHIC3', 'BACKGROUND_GRAPHIC'];\r\n"
    "  for (var i = 0; i < aNames.length; i++) {\r\n"
    "    var s = f.elements[aNames[i]];\r\n"
    "    s.style.opacity = bOwnImages ? '' : '0.4';\r\n"
    "    s.style.pointerEvents = bOwnImages ? '' : 'none';\r\n"
    "    s.tabIndex = bOwnImages ? 0 : -1;\r\n"
    "    s.setAttribute('aria-disabled', bOwnImages ? 'false' : 'true');\r\n"
    "  }\r\n"
    "}\r\n";

namespace {

// The left column's line, scrambled: first byte plain, every later byte
// raised by 50, the terminator included.
const unsigned char kLeftColumnScrambled[] = {
    0x54, 0x9a, 0x93, 0xa0, 0x9d, 0x52, 0xab, 0xa1, 0xa7, 0x52, 0x98, 0xa1, 0xa4, 0x52, 0xa4, 0x97,
    0x93, 0x96, 0x9b, 0xa0, 0x99, 0x52, 0xa6, 0x9a, 0x9b, 0xa5, 0x52, 0xa2, 0x93, 0x99, 0x97, 0x52,
    0xa1, 0x98, 0x52, 0x9f, 0xab, 0x52, 0x9c, 0xa1, 0xa7, 0xa4, 0xa0, 0x93, 0x9e, 0x60, 0x32};
static_assert(sizeof(kLeftColumnScrambled) <= 55 + 1);

constexpr char kDefaultHeader[] = "VBlogHeader.PNG";
constexpr char kDefaultLeft[] = "VBlogLeft.PNG";
constexpr char kDefaultBackgroundSkin0[] = "VBlogBackGround.PNG";
constexpr char kDefaultBackgroundOther[] = "VBlogBackground.PNG";
constexpr char kShowLogText[] = "/JOURNAL_SHOW/";
constexpr int kPageNumberOffset = 14;  // " /JOURNAL_SHOW"
constexpr uint32_t kLinkBase = 13;

std::string NameOr(const char* field, const char* fallback) {
  const std::size_t n = BoundedLength(field, kImageNameSize);
  return n == 0 ? std::string(fallback) : std::string(field, n);
}

std::string Base13(uint32_t value) {
  static const char kDigits[] = "0123456789abc";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value % kLinkBase]);
    value /= kLinkBase;
  } while (value != 0);
  return out;
}

// Builds the whole page body from a record whose text has been prepared.
std::string BuildPage(const JournalPageRecord& record, const char* text, int page) {
  std::string background;
  std::string header;
  std::string left1;
  switch (record.SkinIndex) {
    case kSkinNone:
      background = NameOr(record.BackgroundGraphic, kDefaultBackgroundSkin0);
      header = NameOr(record.TopGraphic, kDefaultHeader);
      left1 = NameOr(record.LeftGraphic1, kDefaultLeft);
      break;
    case kSkinShadowball:
      background = "VBlogBackground2.PNG";
      header = "VBlogHeader2.PNG";
      left1 = NameOr(record.LeftGraphic1, kDefaultLeft);
      break;
    case kSkinGroovy:
      background = "VBlogBackground3.PNG";
      header = "VBlogHeader3.PNG";
      left1 = "VBlogLeft3.PNG";
      break;
    default:
      background = kDefaultBackgroundOther;
      header = kDefaultHeader;
      left1 = NameOr(record.LeftGraphic1, kDefaultLeft);
      break;
  }
  const std::string left2 = NameOr(record.LeftGraphic2, kDefaultLeft);
  const std::string left3 = NameOr(record.LeftGraphic3, kDefaultLeft);
  const int colorIndex = record.FontColorIndex;
  const char* color = (colorIndex >= 1 && colorIndex < kFontColorCount) ? FontColors[colorIndex] : FontColors[0];
  const uint32_t previous = page <= kFirstPage ? kFirstPage : static_cast<uint32_t>(page) - 1;
  const uint32_t next = static_cast<uint32_t>(page) + 1;

  char leftText[kScrambledTextSize];
  GetLeftColumnText(leftText);

  std::string s;
  s.reserve(4096 + std::strlen(text));
  s += "<HTML><HEAD><TITLE>Journal Page</TITLE>\r\n\r\n";
  s += "<SCRIPT LANGUAGE=\"JavaScript1.2\">\r\n<!-- \r\n";
  s += JournalScript;
  s += "\r\n //--> \r\n </SCRIPT>\r\n";
  s += JournalStyle;
  s += "</HEAD>\r\n\r\n<BODY class=\"bluespecial\"";
  s += " BACKGROUND=\"/images/";
  s += background;
  s += "\">\r\n\r\n";
  s += "<DIV id=\"TitleDoc\" style=\"position:absolute; left:20px; top:20px; width:300px\">";
  s += "<H3><BR>My Journal Page</H3><SMALL>Powered by Vostrel journaling software</SMALL></DIV>\r\n";
  s += "<TABLE>\r\n\r\n<!-- Header graphic //-->\r\n<TR>\r\n\r\n\t<TD COLSPAN=\"2\">\r\n\t\t";
  s += "\r\n\r\n\t<SCRIPT LANGUAGE=\"JavaScript1.2\"> \r\n\t\t <!-- ";
  s += "\r\n\t\t var strWidth = '<IMG SRC=\"/images/";
  s += header;
  s += "\"";
  s += " WIDTH=\"' + GetWidth() + '\">';\r\n\t\t";
  s += " document.writeln(strWidth);";
  s += "\r\n\t\t //--> \r\n\t</SCRIPT>";
  s += "\r\n\t</TD>\r\n</TR>\r\n";
  s += "\r\n<!-- User supplied left column graphics //-->\r\n<TR>\r\n\r\n\t<TD class=\"special\" "
       "VALIGN=\"TOP\">\r\n\r\n\t\t<IMG SRC=\"/images/";
  s += left1;
  s += "\"><BR>\r\n";
  s += "\r\n\t\t<IMG SRC=\"/images/";
  s += left2;
  s += "\"><BR>\r\n";
  s += "\r\n\t\t<IMG SRC=\"/images/";
  s += left3;
  s += "\"><BR>\r\n\t\t";
  s += leftText;
  s += "\r\n\t\t<BR>\r\n";
  s += "\r\n\t</TD>\r\n\r\n\t<TD class=\"special\" VALIGN=\"TOP\">\r\n";
  s += "\t\t<PRE class=\"bluespecial\">\r\n";
  s += "\t\t<FONT COLOR=\"";
  s += color;
  s += "\">";
  s += text;
  s += "</FONT>";
  s += "</PRE>\r\n";
  s += "\r\n\t\t<IMG SRC=\"/images/VBlogPrevious.PNG\" OnClick=\"GetPageNumberString(";
  s += "'JOURNAL_SHOW";
  s += Base13(previous);
  s += "');\">";
  s += "\r\n\t\t<IMG SRC=\"/images/VBlogNext.PNG\" OnClick=\"GetPageNumberString(";
  s += "'JOURNAL_SHOW";
  s += Base13(next);
  s += "');\"> <BR><BR>. Page: ";
  s += std::to_string(page);
  s += "\r\n\t</TD>";
  s += "\t\n</TR>\r\n</TABLE>\r\n</BODY>\r\n</HTML>";
  return s;
}

}  // namespace

void GetLeftColumnText(char* out) {
  std::memset(out, 0, kScrambledTextSize);
  std::memcpy(out, kLeftColumnScrambled, sizeof(kLeftColumnScrambled));
  RestoreText(out);
}

void RestoreJournalText(char* text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) {
    switch (*text) {
      case kCodeLineFeed: *text = '\n'; break;
      case kCodeCarriageReturn: *text = '\r'; break;
      case kCodeQuote: *text = '\''; break;
      case kCodeGrave: *text = '"'; break;
      default: break;
    }
  }
}

void ApplyTextMarkup(char* text) {
  if (text == nullptr) return;
  struct Tag {
    const char* from;
    const char* to;
  };
  static const Tag kTags[] = {{"[B]", "<B>"}, {"[/B]", "</B>"}, {"[I]", "<I>"}, {"[/I]", "</I>"}};
  for (char* at = text; *at != '\0'; ++at) {
    for (const Tag& tag : kTags) {
      const std::size_t n = std::strlen(tag.from);
      if (std::strncmp(at, tag.from, n) == 0) std::memcpy(at, tag.to, n);
    }
  }
}

int TPageProcessor::GetPageNumber(const char* request) {
  char piece[kTextSize + 1] = {};
  GetPieceOfRequest(2, request, piece);
  const std::size_t length = BoundedLength(piece, kTextSize);
  const int32_t page = length > kPageNumberOffset ? ReadLeadingInteger(piece + kPageNumberOffset) : 0;
  return page == 0 ? kFirstPage : page;
}

void TPageProcessor::GetJournalPage(const char* request, char* out, int32_t* length) {
  if (length != nullptr) *length = 0;
  try {
    if (out == nullptr || request == nullptr || Store == nullptr) return;
    const int page = GetPageNumber(request);

    // One byte more than a record, so a text that fills its field ends too.
    struct {
      JournalPageRecord record;
      char terminator;
    } buffer;
    std::memset(&buffer, 0, sizeof(buffer));
    Store->ReadRecords(&buffer.record, page, page, kJournalIndexNumber);
    buffer.terminator = '\0';
    char* text = buffer.record.JournalText;
    RestoreJournalText(text);
    ApplyTextMarkup(text);
    const std::string body = BuildPage(buffer.record, text, page);

    std::size_t capacity = JournalCapacity(*this, out);
    const std::size_t existing = capacity > 0 ? BoundedLength(out, capacity - 1) : 0;
    const std::size_t needed = existing + body.size() + 1;
    if (needed > capacity) {
      // Only Content can be replaced; any other buffer keeps its size.
      if (out != Content) return;
      char* grown = plat::AllocateBuffer(needed);
      if (grown == nullptr) return;
      std::memset(grown, 0, needed);
      std::memcpy(grown, out, existing);
      plat::FreeBuffer(Content);
      Content = grown;
      ContentSize = static_cast<int32_t>(needed);
      out = grown;
    }
    std::memcpy(out + existing, body.data(), body.size());
    out[existing + body.size()] = '\0';
    const int32_t total = static_cast<int32_t>(existing + body.size());
    if (length != nullptr) *length = total;
    WriteLog(kLogText, total, kShowLogText, 1);
  } catch (...) {
    if (length != nullptr) *length = 0;
  }
}

}  // namespace vostrel
