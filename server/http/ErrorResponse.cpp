// TPageProcessor's error responses: a status line, a short header block and
// the small "Problem" page that repeats the status text.
#include <cstring>

#include "server/http/TextBuffer.h"
#include "server/http/Tpageprocessor.h"

namespace vostrel {
namespace {

struct ErrorText {
  int code;
  const char* statusLine;   // first line of the response
  const char* messageLine;  // shown inside the page
};

constexpr ErrorText kErrorTexts[] = {
    {403, "HTTP/1.1 403 Forbidden\r\n", "HTTP/1.1 403 Forbidden\r\n"},
    {404, "HTTP/1.1 404 File Not Found\r\n", "HTTP/1.1 404 File Not Found\r\n"},
    {500, "HTTP/1.1 500 Server Memory Low\r\n", "HTTP/1.1 500 Low Server Memory\r\n"},
    {502, "HTTP/1.1 502 Database Access Error on Web Server\r\n",
     "HTTP/1.1 502 Database Access Error on Web Server\r\n"},
};
constexpr ErrorText kUnknownError = {501, "HTTP/1.1 501 Unknown Error\r\n",
                                     "HTTP/1.1 501 Unknown Error\r\n"};

constexpr char kDateLine[] = "Date: Mon, 17 Apr 2004 19:33:22 GMT\r\n";
constexpr char kConnectionLine[] = "Connection: Close\r\n";
constexpr char kTextTypeLine[] = "Content-Type: text/html; charset=iso-8859-1\r\n";
constexpr char kHeaderEnd[] = "\r\n";
constexpr char kPageStart[] =
    "<HTML><HEAD><TITLE>Problem</TITLE>\r\n\r\n</HEAD>\r\n\r\n<BODY>\r\n<HR>Message from the "
    "Vostrel Web Server:<BR><BR>";
constexpr char kPageEnd[] = "<HR></BODY></HTML>";

const ErrorText& FindErrorText(int code) {
  for (const ErrorText& e : kErrorTexts) {
    if (e.code == code) return e;
  }
  return kUnknownError;
}

}  // namespace

void TPageProcessor::GetStatusMessage(char* out, int code) {
  if (out == nullptr) return;
  CopyText(out, kTextSize, FindErrorText(code).messageLine);
}

void TPageProcessor::BuildErrorResponse(int code, char* response) {
  if (response == nullptr) return;
  try {
    const int64_t room = RoomOf(response);
    char message[kTextSize];
    GetStatusMessage(message, code);
    // Each piece goes in only when it fits; the response stays terminated.
    const char* pieces[] = {FindErrorText(code).statusLine,
                            kDateLine,
                            ServerHeader,
                            kConnectionLine,
                            kTextTypeLine,
                            kHeaderEnd,
                            kPageStart,
                            message,
                            kPageEnd};
    TextAppender out(response, room);
    for (const char* piece : pieces) out.Add(piece);
  } catch (...) {
  }
}

}  // namespace vostrel
