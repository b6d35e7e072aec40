// Expected response texts that the request core and the journal share, built
// from the literals of the design rather than from the server's code.
#pragma once

#include <string>

namespace testsupport {

// Every answer carries this fixed date (and 200 answers the same expiry).
constexpr char kDateLine[] = "Date: Mon, 17 Apr 2004 19:33:22 GMT\r\n";
constexpr char kExpiresLine[] = "Expires: Mon, 17 Apr 2004 19:33:22 GMT\r\n";

// The header of a 200 answer; length < 0: no Content-Length; text false: a
// file of any other kind ("Content-Type: *;").
inline std::string Header200(const char* serverHeader, long length, bool text = true) {
  std::string h = std::string("HTTP/1.1 200 ok\r\n") + kDateLine + kExpiresLine + serverHeader +
                  "Connection: Close\r\n";
  if (length >= 0) h += "Content-Length: " + std::to_string(length) + ";\r\n";
  h += text ? "Content-Type: text/html; charset=iso-8859-1\r\n" : "Content-Type: *;\r\n";
  return h + "\r\n";
}

// A whole error answer: status line, headers and the problem page.
inline std::string ErrorResponse(const char* serverHeader, const std::string& statusLine,
                                 const std::string& messageLine) {
  return statusLine + kDateLine + serverHeader + "Connection: Close\r\n" +
         "Content-Type: text/html; charset=iso-8859-1\r\n" + "\r\n" +
         "<HTML><HEAD><TITLE>Problem</TITLE>\r\n\r\n</HEAD>\r\n\r\n<BODY>\r\n<HR>Message from "
         "the Vostrel Web Server:<BR><BR>" +
         messageLine + "<HR></BODY></HTML>";
}

}  // namespace testsupport
