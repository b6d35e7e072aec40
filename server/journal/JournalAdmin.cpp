// The journal's administration pages: the log-on form and the page editor
// with its select lists.
#include <cstring>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/machine/machine.h"
#include "server/http/Tpageprocessor.h"
#include "server/journal/JournalBuffer.h"
#include "server/journal/JournalForm.h"
#include "server/journal/JournalPage.h"

namespace vostrel {
namespace {

constexpr char kNoLengthText[] = "-1";  // no Content-Length line
constexpr char kImagesFolder[] = "Program Files\\Vostrel Web Server\\images";
constexpr std::size_t kDriveLength = 3;  // "C:\"
constexpr int kColumnsFirst = 2;
constexpr int kColumnsEnd = 10;
// Room kept free behind the image options for the rest of the editor: the
// other selects, the text twice (escaped in the script) and fixed texts.
constexpr std::size_t kEditorTailReserve = 65536;

// The page number echoed into the editor's script keeps only these, so the
// sent value can never leave its script strings.
bool IsPageNumberChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' ||
         c == '-';
}

std::string CleanPageNumberEcho(const char* sent) {
  std::string out;
  for (const char* c = sent; *c != '\0'; ++c) {
    if (IsPageNumberChar(*c)) out += *c;
  }
  return out;
}

// The stored text inside a single-quoted script string: store codes keep
// quotes and line breaks out of it; a backslash would escape the closing
// quote, so it is doubled.
void AppendScriptString(TJournalWriter& out, const char* text, std::size_t length) {
  std::string escaped;
  escaped.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '\\') escaped += '\\';
    escaped += text[i];
  }
  out.Append(escaped.data(), escaped.size());
}

void AppendOption(TJournalWriter& out, const char* value, bool selected) {
  std::string option = selected ? "\t\t<OPTION SELECTED Value=\"" : "\t\t<OPTION Value=\"";
  option += value;
  option += "\">";
  option += value;
  option += "\r\n";
  out.Append(option.data(), option.size());
}

void AppendSelectStart(TJournalWriter& out, const char* name, const char* label, const char* tail) {
  out.Append("\r\n\t");
  out.Append(label);
  out.Append(" <SELECT NAME=\"");
  out.Append(name);
  out.Append(tail);
}

std::string ImagesFolder() {
  const std::string current = plat::CurrentDirectory();
  return current.substr(0, kDriveLength) + kImagesFolder;
}

bool IsPlainFileName(const std::string& name) {
  for (char c : name) {
    if (IsForbiddenNameChar(c)) return false;
  }
  return !name.empty();
}

}  // namespace

void TPageProcessor::GetLoginPage(char*, char* response) {
  BuildResponseHeader(response, ServerHeader, kNoLengthText, true);
  TJournalWriter out(response, JournalCapacity(*this, response));
  out.Append(
      "            \t <HTML><HEAD><TITLE>Vostrel Journal Administration Page</TITLE>\r\n\r\n</HEAD>\r\n"
      "<BODY>\r\n");
  out.Append("Administrators Page<BR><BR><FORM METHOD=\"POST\" ACTION=\"/JOURNAL_SAVE\">");
  out.Append("            \t UserName <INPUT TYPE=TEXT NAME=\"UserName\" SIZE=15 MAXLENGTH=15>  \n\n");
  out.Append(
      "            \t Password <INPUT TYPE=PASSWORD NAME=\"Password\" SIZE=15 MAXLENGTH=15><BR><BR> \n\n");
  out.Append(
      "            \t Page Number <SELECT NAME=\"PAGE_NUMBER\"><OPTION SELECTED VALUE=\"1\"> 1 <OPTION "
      "VALUE=\"2\"> 2 <OPTION VALUE=\"3\"> 3 <OPTION VALUE=\"4\"> 4 <OPTION VALUE=\"5\"> 5 ");
  out.Append(
      "            \t <OPTION VALUE=\"6\"> 6  <OPTION VALUE=\"7\"> 7  <OPTION VALUE=\"8\"> 8  <OPTION "
      "VALUE=\"9\"> 9 </SELECT> \n\n");
  out.Append(
      "             \t <INPUT TYPE=HIDDEN NAME=\"ActionID\" SIZE=15 MAXLENGTH=15 "
      "VALUE=\"JOURNAL_ADMIN\"><BR><BR> \n\n");
  out.Append("            \t <INPUT TYPE=SUBMIT VALUE=\"Log On\">            </FORM></BODY></HTML>");
}

void TPageProcessor::GetEditorPage(char* request, char* response) {
  BuildResponseHeader(response, ServerHeader, kNoLengthText, true);
  if (!CheckLogOn(request, response)) return;

  char pageText[kFieldBufferSize] = {};
  GetFormField("PAGE_NUMBER", request, pageText, kPageNumberLimit);
  const int32_t page = pageText[0] == '\0' ? kFirstPage : ReadLeadingInteger(pageText);
  const std::string pageEcho = CleanPageNumberEcho(pageText);

  struct {
    JournalPageRecord record;
    char terminator;
  } buffer;
  std::memset(&buffer, 0, sizeof(buffer));
  Store->ReadRecords(&buffer.record, page, page, kJournalIndexNumber);
  const JournalPageRecord& record = buffer.record;
  const char* text = record.JournalText;
  const std::size_t textLength = BoundedLength(text, kJournalTextSize);

  auto nameOr = [](const char* field, const char* fallback) {
    const std::size_t n = BoundedLength(field, kImageNameSize);
    return n == 0 ? std::string(fallback) : std::string(field, n);
  };

  {
    TJournalWriter out(response, JournalCapacity(*this, response));
    out.Append("<HTML><HEAD><TITLE>Journal Administration Page</TITLE>");
    out.Append(JournalStyle);
    out.Append("\r\n\r\n");
    out.Append("\r\n\r\n\t\t<SCRIPT LANGUAGE=\"JavaScript1.2\"> \r\n\t\t<!--\n");
    out.Append(JournalScript);
    out.Append("\r\n\t\t var strBlogData = '");
    AppendScriptString(out, text, textLength);
    out.Append("';");
    out.Append("\r\n\r\n\t\t document.forms[0].JOURNALPOST.value = RestoreLfCr(strBlogData);");
    out.Append("\r\n\t\t//--> \r\n\t\t</SCRIPT>\r\n\r\n");
    out.Append("\r\n\r\n</HEAD>\r\n\r\n<BODY>\r\n\r\n");
    out.Append("<B>New Page Setup</B> <HR>");
    out.Append("\r\n\r\n<FORM METHOD=\"POST\" ACTION=\"/JOURNAL_SAVE\">");
    out.Append(
        "\r\n\r\n<TABLE COLSPACING=\"5\" CELLSPACING=\"5\">\r\n\r\n<TR>\r\n\r\n\t<TD class=\"special\" "
        "VALIGN=\"TOP\">");
    out.Append("\r\n\t\t<IMG SRC=\"/images/VBlogPix1.PNG\" ALT=\"Page Graphics\"><BR>");
    out.Append("\r\n\r\n");
  }
  AddNumberSelect(response, "NUMBER_COLUMNS", "Number of Columns", kColumnsFirst, kColumnsEnd);
  TJournalWriter(response, JournalCapacity(*this, response)).Append("<BR><BR>\r\n\r\n");
  AddSkinSelect(response, "SKIN_NAME", "Skin Option (Supercede)", kSkinNone);
  TJournalWriter(response, JournalCapacity(*this, response)).Append("<BR><BR>\r\n\r\n");
  AddImageSelect(response, "TOP_GRAPHIC", "Page Top Graphic",
                 nameOr(record.TopGraphic, "VBlogHeader.PNG").c_str());
  TJournalWriter(response, JournalCapacity(*this, response)).Append("<BR><BR>\r\n");
  AddImageSelect(response, "LEFT_GRAPHIC1", "Graphic[1] for column 1 ",
                 nameOr(record.LeftGraphic1, "VBlogLeft.PNG").c_str());
  TJournalWriter(response, JournalCapacity(*this, response)).Append("<BR>\r\n");
  AddImageSelect(response, "LEFT_GRAPHIC2", "Graphic[2] for column 1 ",
                 nameOr(record.LeftGraphic2, "VBlogLeft.PNG").c_str());
  TJournalWriter(response, JournalCapacity(*this, response)).Append("<BR>\r\n");
  AddImageSelect(response, "LEFT_GRAPHIC3", "Graphic[3] for column 1 ",
                 nameOr(record.LeftGraphic3, "VBlogLeft.PNG").c_str());
  TJournalWriter(response, JournalCapacity(*this, response)).Append("<BR><BR>\r\n");
  AddImageSelect(response, "BACKGROUND_GRAPHIC", "Background graphic ",
                 nameOr(record.BackgroundGraphic, "VBlogBackground.PNG").c_str());
  TJournalWriter(response, JournalCapacity(*this, response)).Append("<BR><BR>\r\n");
  AddColorSelect(response, "FONT_COLOR", "Font Color for Text Area", record.FontColorIndex);

  TJournalWriter out(response, JournalCapacity(*this, response));
  out.Append("<BR><BR>\r\n");
  out.Append("\t</TD>\r\n\r\n\t<TD ALIGN=\"CENTER\">");
  out.Append("\r\n\t\t<IMG SRC=\"/images/VBlogPix2.PNG\" ALT=\"Journal Text\"><BR>");
  out.Append("<BR>\r\n");
  out.Append("\r\n\t\t<INPUT TYPE=HIDDEN NAME=\"ActionID\" VALUE=\"JOURNAL_SAVE\">");
  out.Append("\r\n\t\t<INPUT TYPE=HIDDEN NAME=\"PAGE_NUMBER\" VALUE=\"1\">");
  out.Append(" <TEXTAREA class=\"special\" NAME=\"JOURNALPOST\" ROWS=13 COLS=66 WRAP=NONE>");
  out.Append(text, textLength);
  out.Append("</TEXTAREA>\r\n");
  out.Append("\r\n\r\n\t\t<SCRIPT LANGUAGE=\"JavaScript1.2\">\r\n\t\t <!-- \r\n");
  out.Append("\r\n\t\t strBlogData = '");
  AppendScriptString(out, text, textLength);
  out.Append("';");
  out.Append("\r\n\t\t document.forms[0].JOURNALPOST.value = RestoreLfCr(strBlogData);");
  out.Append("\r\n\t\t document.forms[0].PAGE_NUMBER.value = \"");
  out.Append(pageEcho.c_str());
  out.Append("\";");
  out.Append("\r\n\t\t document.writeln('<BR>Page: ' + '");
  out.Append(pageEcho.c_str());
  out.Append("');");
  out.Append("\r\n\t\t //--> \r\n\t\t </SCRIPT>");
  out.Append(" \r\n\t\t<INPUT TYPE=SUBMIT VALUE=\"Create Page\">\r\n");
  out.Append("\r\n\t</TD>\r\n</TR>\r\n</TABLE>\r\n");
  out.Append("</FORM>\r\n");
  out.Append("</BODY>\r\n</HTML>\r\n");
}

void TPageProcessor::AddNumberSelect(char* response, const char* name, const char* label, int first,
                                     int end) {
  TJournalWriter out(response, JournalCapacity(*this, response));
  AppendSelectStart(out, name, label, "\">");
  for (int n = first; n < end; ++n) AppendOption(out, std::to_string(n).c_str(), false);
  out.Append("\t</SELECT>");
}

void TPageProcessor::AddSkinSelect(char* response, const char* name, const char* label, int selected) {
  TJournalWriter out(response, JournalCapacity(*this, response));
  AppendSelectStart(out, name, label, "\" onChange=\"EnableSkinCheck();\">");
  for (int i = 0; i < kSkinCount; ++i) AppendOption(out, SkinNames[i], i == selected);
  out.Append("\t</SELECT>");
}

void TPageProcessor::AddColorSelect(char* response, const char* name, const char* label, int selected) {
  TJournalWriter out(response, JournalCapacity(*this, response));
  AppendSelectStart(out, name, label, "\">");
  for (int i = 0; i < kFontColorCount; ++i) AppendOption(out, FontColors[i], i == selected);
  out.Append("\t</SELECT>");
}

void TPageProcessor::AddImageSelect(char* response, const char* name, const char* label,
                                    const char* current) {
  TJournalWriter out(response, JournalCapacity(*this, response));
  AppendSelectStart(out, name, label, "\">");
  const std::vector<std::string> files = plat::ListFiles(ImagesFolder());
  bool first = true;
  for (const std::string& file : files) {
    // A name that no Windows folder can hold could leave its attribute.
    if (!IsPlainFileName(file)) continue;
    const char* value = first ? current : file.c_str();
    const std::size_t optionLength = 2 * std::strlen(value) + 40;
    // The rest of the editor must still fit behind the options.
    if (!out.Fits(optionLength + kEditorTailReserve)) break;
    AppendOption(out, value, first);
    first = false;
  }
  out.Append("\t</SELECT>");
}

}  // namespace vostrel
