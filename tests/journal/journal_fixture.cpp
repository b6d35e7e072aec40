// The journal tests' temporary machine and the expected texts, written out
// from the literal lists of the journal pages.
#include "tests/journal/journal_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/files/files.h"
#include "server/listener/ServerLog.h"

namespace vostrel::testing {
namespace fs = std::filesystem;

namespace {

constexpr char kStorePath[] = "C:\\WINDOWS\\system\\VostrelBlog.VDB";
constexpr char kStoreDirectory[] = "C:\\WINDOWS\\system";
constexpr char kImagesFolder[] = "C:\\Program Files\\Vostrel Web Server\\images";

std::string Option(const std::string& value, bool selected) {
  return std::string(selected ? "\t\t<OPTION SELECTED Value=\"" : "\t\t<OPTION Value=\"") + value + "\">" +
         value + "\r\n";
}

std::string Select(const std::string& name, const std::string& label, const std::string& options,
                   bool skin = false) {
  return "\r\n\t" + label + " <SELECT NAME=\"" + name +
         (skin ? "\" onChange=\"EnableSkinCheck();\">" : "\">") + options + "\t</SELECT>";
}

std::string ImageSelect(const std::string& name, const std::string& label, const std::string& current,
                        const std::vector<std::string>& files) {
  std::string options;
  for (std::size_t i = 0; i < files.size(); ++i) options += i == 0 ? Option(current, true) : Option(files[i], false);
  return Select(name, label, options);
}

}  // namespace

void JournalMachine::SetUp() {
  ASSERT_TRUE(machine_.ok());
  CloseServerLog();
  store_ = std::make_unique<TAsDB>();
  ASSERT_EQ(store_->Open(kStorePath, kStoreDirectory, 1).Code, 0);
}

void JournalMachine::TearDown() {
  if (store_) store_->Close(0);
  store_.reset();
  CloseServerLog();
}

std::unique_ptr<TPageProcessor> JournalMachine::NewProcessor() {
  auto p = std::make_unique<TPageProcessor>(kProcessorSize, &serverLock_);
  std::memset(p->JournalPassword, 0, sizeof(p->JournalPassword));
  std::strncpy(p->JournalPassword, password_.c_str(), sizeof(p->JournalPassword) - 1);
  std::strcpy(p->DocumentRoot, "C:\\Program Files\\Vostrel Web Server\\");
  p->JournalLock = withStore_ ? &journalLock_ : nullptr;
  p->Store = withStore_ ? store_.get() : nullptr;
  return p;
}

std::string JournalMachine::Serve(const std::string& request) {
  auto p = NewProcessor();
  std::vector<char> text(request.begin(), request.end());
  text.resize(kRequestBufferSize + 1, '\0');
  const char* bytes = p->GetNormalPage(text.data());
  if (bytes == nullptr) return std::string();
  return std::string(bytes, static_cast<std::size_t>(p->GetLength()));
}

std::string JournalMachine::Post(const std::string& body, const std::string& path) {
  return Serve("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

JournalPageRecord JournalMachine::NewRecord(int key) {
  JournalPageRecord r;
  std::memset(&r, 0, sizeof(r));
  r.Key = key;
  r.IndexNumber = 1;
  r.Columns = 2;
  return r;
}

void JournalMachine::PutPage(const JournalPageRecord& record) {
  TAsDBRecord raw;
  std::memcpy(&raw, &record, sizeof(raw));
  ASSERT_EQ(store_->WriteRecord(raw, record.Key, record.Key, 1).Code, 0);
}

JournalPageRecord JournalMachine::ReadPage(int key) {
  JournalPageRecord r;
  std::memset(&r, 0x5a, sizeof(r));
  store_->ReadRecords(&r, key, key, 1);
  return r;
}

std::vector<std::string> JournalMachine::MakeImages(const std::vector<std::string>& names) {
  const std::string folder = plat::ToNativePath(kImagesFolder);
  fs::create_directories(folder);
  for (const std::string& n : names) std::ofstream(folder + "/" + n) << "png";
  return plat::ListFiles(kImagesFolder);
}

std::string JournalMachine::LogText() const {
  return testsupport::ReadWindowsFile("C:\\WINDOWS\\system\\VostrelWeb.log");
}

std::string Style() {
  const char* rules[] = {
      "TR.special { font-family: Arial, sans-serif; color: blue; font-size:10pt; background-color: #F6FCFA; }",
      "TD.special { font-family: Arial, sans-serif; color: black; font-size:10pt; }",
      "TD.blackspecial { font-family: Arial, sans-serif; color: black; font-size:10pt; background-color: #F6FCFA; }",
      "BODY.special { font-family: Arial, sans-serif; color: black; font-size:10pt; background-color: #F6FCFA; }",
      "BODY.bluespecial { font-family: Arial, sans-serif; color: blue; font-size:10pt; }",
      "PRE.bluespecial { font-family: Arial, sans-serif; color: blue; font-size:10pt; padding:10px; }",
      "TEXTAREA.special { font-family: Arial, sans-serif; color: blue; font-size:10pt; }",
      "INPUT.special { font-family: Arial, sans-serif; color: blue; font-size:10pt; background-color: #F6FCFA; }",
  };
  std::string s = " <STYLE TYPE=\"text/css\">\n";
  for (const char* r : rules) s += std::string("    ") + r + "\n";
  return s + " </STYLE>\r\n";
}

std::string JournalPageText(const PageParts& p) {
  std::string s;
  s += "<HTML><HEAD><TITLE>Journal Page</TITLE>\r\n\r\n";
  s += "<SCRIPT LANGUAGE=\"JavaScript1.2\">\r\n<!-- \r\n";
  s += JournalScript;  // the server's own script text
  s += "\r\n //--> \r\n </SCRIPT>\r\n";
  s += Style();
  s += "</HEAD>\r\n\r\n<BODY class=\"bluespecial\"";
  s += " BACKGROUND=\"/images/";
  s += p.background;
  s += "\">\r\n\r\n";
  s += "<DIV id=\"TitleDoc\" style=\"position:absolute; left:20px; top:20px; width:300px\">";
  s += "<H3><BR>My Journal Page</H3><SMALL>Powered by Vostrel journaling software</SMALL></DIV>\r\n";
  s += "<TABLE>\r\n\r\n<!-- Header graphic //-->\r\n<TR>\r\n\r\n\t<TD COLSPAN=\"2\">\r\n\t\t";
  s += "\r\n\r\n\t<SCRIPT LANGUAGE=\"JavaScript1.2\"> \r\n\t\t <!-- ";
  s += "\r\n\t\t var strWidth = '<IMG SRC=\"/images/";
  s += p.header;
  s += "\"";
  s += " WIDTH=\"' + GetWidth() + '\">';\r\n\t\t";
  s += " document.writeln(strWidth);";
  s += "\r\n\t\t //--> \r\n\t</SCRIPT>";
  s += "\r\n\t</TD>\r\n</TR>\r\n";
  s += "\r\n<!-- User supplied left column graphics //-->\r\n<TR>\r\n\r\n\t<TD class=\"special\" VALIGN=\"TOP\">\r\n\r\n\t\t<IMG SRC=\"/images/";
  s += p.left1;
  s += "\"><BR>\r\n";
  s += "\r\n\t\t<IMG SRC=\"/images/" + p.left2 + "\"><BR>\r\n";
  s += "\r\n\t\t<IMG SRC=\"/images/" + p.left3 + "\"><BR>\r\n\t\t";
  s += kLeftColumnLine;
  s += "\r\n\t\t<BR>\r\n";
  s += "\r\n\t</TD>\r\n\r\n\t<TD class=\"special\" VALIGN=\"TOP\">\r\n";
  s += "\t\t<PRE class=\"bluespecial\">\r\n";
  s += "\t\t<FONT COLOR=\"";
  s += p.color;
  s += "\">";
  s += p.text;
  s += "</FONT>";
  s += "</PRE>\r\n";
  s += "\r\n\t\t<IMG SRC=\"/images/VBlogPrevious.PNG\" OnClick=\"GetPageNumberString(";
  s += "'JOURNAL_SHOW";
  s += p.previous;
  s += "');\">";
  s += "\r\n\t\t<IMG SRC=\"/images/VBlogNext.PNG\" OnClick=\"GetPageNumberString(";
  s += "'JOURNAL_SHOW";
  s += p.next;
  s += "');\"> <BR><BR>. Page: ";
  s += p.page;
  s += "\r\n\t</TD>";
  s += "\t\n</TR>\r\n</TABLE>\r\n</BODY>\r\n</HTML>";
  return s;
}

std::string LoginPageText() {
  std::string s;
  s += "            \t <HTML><HEAD><TITLE>Vostrel Journal Administration Page</TITLE>\r\n\r\n</HEAD>\r\n<BODY>\r\n";
  s += "Administrators Page<BR><BR><FORM METHOD=\"POST\" ACTION=\"/JOURNAL_SAVE\">";
  s += "            \t UserName <INPUT TYPE=TEXT NAME=\"UserName\" SIZE=15 MAXLENGTH=15>  \n\n";
  s += "            \t Password <INPUT TYPE=PASSWORD NAME=\"Password\" SIZE=15 MAXLENGTH=15><BR><BR> \n\n";
  s += "            \t Page Number <SELECT NAME=\"PAGE_NUMBER\"><OPTION SELECTED VALUE=\"1\"> 1 <OPTION VALUE=\"2\"> 2 <OPTION VALUE=\"3\"> 3 <OPTION VALUE=\"4\"> 4 <OPTION VALUE=\"5\"> 5 ";
  s += "            \t <OPTION VALUE=\"6\"> 6  <OPTION VALUE=\"7\"> 7  <OPTION VALUE=\"8\"> 8  <OPTION VALUE=\"9\"> 9 </SELECT> \n\n";
  s += "             \t <INPUT TYPE=HIDDEN NAME=\"ActionID\" SIZE=15 MAXLENGTH=15 VALUE=\"JOURNAL_ADMIN\"><BR><BR> \n\n";
  s += "            \t <INPUT TYPE=SUBMIT VALUE=\"Log On\">            </FORM></BODY></HTML>";
  return s;
}

std::string SecurityWarningText() {
  return std::string("<HTML><HEAD><TITLE>Security Warning</TITLE></HEAD><BODY>") +
         "<B>Warning!</B>  Security credentials will be required to access this page again<BR><BR>If you have "
         "just saved a page, you may view it by typing <BR>http://127.0.0.1/JOURNAL_SHOW1 into the address bar." +
         "</BODY></HTML>";
}

std::string EditorPageText(const EditorParts& p) {
  const char* colors[] = {"blue", "green", "red", "brown", "yellow", "cyan", "black", "white", "silver"};
  const char* skins[] = {"None", "Shadowball", "Groovy"};
  std::string numbers;
  for (int n = 2; n <= 9; ++n) numbers += Option(std::to_string(n), false);
  std::string skinOptions;
  for (int i = 0; i < 3; ++i) skinOptions += Option(skins[i], i == 0);
  std::string colorOptions;
  for (int i = 0; i < 9; ++i) colorOptions += Option(colors[i], i == p.colorSelected);

  std::string s;
  s += "<HTML><HEAD><TITLE>Journal Administration Page</TITLE>";
  s += Style();
  s += "\r\n\r\n";
  s += "\r\n\r\n\t\t<SCRIPT LANGUAGE=\"JavaScript1.2\"> \r\n\t\t<!--\n";
  s += JournalScript;
  s += "\r\n\t\t var strBlogData = '";
  s += p.storedText;
  s += "';";
  s += "\r\n\r\n\t\t document.forms[0].JOURNALPOST.value = RestoreLfCr(strBlogData);";
  s += "\r\n\t\t//--> \r\n\t\t</SCRIPT>\r\n\r\n";
  s += "\r\n\r\n</HEAD>\r\n\r\n<BODY>\r\n\r\n";
  s += "<B>New Page Setup</B> <HR>";
  s += "\r\n\r\n<FORM METHOD=\"POST\" ACTION=\"/JOURNAL_SAVE\">";
  s += "\r\n\r\n<TABLE COLSPACING=\"5\" CELLSPACING=\"5\">\r\n\r\n<TR>\r\n\r\n\t<TD class=\"special\" VALIGN=\"TOP\">";
  s += "\r\n\t\t<IMG SRC=\"/images/VBlogPix1.PNG\" ALT=\"Page Graphics\"><BR>";
  s += "\r\n\r\n";
  s += Select("NUMBER_COLUMNS", "Number of Columns", numbers);
  s += "<BR><BR>\r\n\r\n";
  s += Select("SKIN_NAME", "Skin Option (Supercede)", skinOptions, true);
  s += "<BR><BR>\r\n\r\n";
  s += ImageSelect("TOP_GRAPHIC", "Page Top Graphic", p.top, p.imageFiles);
  s += "<BR><BR>\r\n";
  s += ImageSelect("LEFT_GRAPHIC1", "Graphic[1] for column 1 ", p.left1, p.imageFiles);
  s += "<BR>\r\n";
  s += ImageSelect("LEFT_GRAPHIC2", "Graphic[2] for column 1 ", p.left2, p.imageFiles);
  s += "<BR>\r\n";
  s += ImageSelect("LEFT_GRAPHIC3", "Graphic[3] for column 1 ", p.left3, p.imageFiles);
  s += "<BR><BR>\r\n";
  s += ImageSelect("BACKGROUND_GRAPHIC", "Background graphic ", p.background, p.imageFiles);
  s += "<BR><BR>\r\n";
  s += Select("FONT_COLOR", "Font Color for Text Area", colorOptions);
  s += "<BR><BR>\r\n";
  s += "\t</TD>\r\n\r\n\t<TD ALIGN=\"CENTER\">";
  s += "\r\n\t\t<IMG SRC=\"/images/VBlogPix2.PNG\" ALT=\"Journal Text\"><BR>";
  s += "<BR>\r\n";
  s += "\r\n\t\t<INPUT TYPE=HIDDEN NAME=\"ActionID\" VALUE=\"JOURNAL_SAVE\">";
  s += "\r\n\t\t<INPUT TYPE=HIDDEN NAME=\"PAGE_NUMBER\" VALUE=\"1\">";
  s += " <TEXTAREA class=\"special\" NAME=\"JOURNALPOST\" ROWS=13 COLS=66 WRAP=NONE>";
  s += p.storedText;
  s += "</TEXTAREA>\r\n";
  s += "\r\n\r\n\t\t<SCRIPT LANGUAGE=\"JavaScript1.2\">\r\n\t\t <!-- \r\n";
  s += "\r\n\t\t strBlogData = '";
  s += p.storedText;
  s += "';";
  s += "\r\n\t\t document.forms[0].JOURNALPOST.value = RestoreLfCr(strBlogData);";
  s += "\r\n\t\t document.forms[0].PAGE_NUMBER.value = \"";
  s += p.pageEcho;
  s += "\";";
  s += "\r\n\t\t document.writeln('<BR>Page: ' + '";
  s += p.pageEcho;
  s += "');";
  s += "\r\n\t\t //--> \r\n\t\t </SCRIPT>";
  s += " \r\n\t\t<INPUT TYPE=SUBMIT VALUE=\"Create Page\">\r\n";
  s += "\r\n\t</TD>\r\n</TR>\r\n</TABLE>\r\n";
  s += "</FORM>\r\n";
  s += "</BODY>\r\n</HTML>\r\n";
  return s;
}

}  // namespace vostrel::testing
