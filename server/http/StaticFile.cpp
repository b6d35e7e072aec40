// TPageProcessor's static file responder: reads a file of the document root
// whole, decides text or binary, writes the 200 header block and the log
// entries of a served file.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/faults/faults.h"
#include "platform/files/files.h"
#include "platform/memory/memory.h"
#include "platform/threads/threads.h"
#include "server/http/TextBuffer.h"
#include "server/http/Tpageprocessor.h"

namespace vostrel {
namespace {

constexpr char kStatusLine200[] = "HTTP/1.1 200 ok\r\n";
constexpr char kDateLine[] = "Date: Mon, 17 Apr 2004 19:33:22 GMT\r\n";
constexpr char kExpiresLine[] = "Expires: Mon, 17 Apr 2004 19:33:22 GMT\r\n";
constexpr char kConnectionLine[] = "Connection: Close\r\n";
constexpr char kContentLengthName[] = "Content-Length: ";
constexpr char kContentLengthEnd[] = ";\r\n";
constexpr char kTextTypeLine[] = "Content-Type: text/html; charset=iso-8859-1\r\n";
constexpr char kBinaryTypeLine[] = "Content-Type: *;\r\n";
constexpr char kHeaderEnd[] = "\r\n";
constexpr char kNoLengthMark[] = "-1";
constexpr char kInsufficientMemoryText[] =
    "\r\nThere was insufficient memory on the server to deliver the following file: \r\n";
constexpr char kUserAgentName[] = "User-Agent";
constexpr char kUndeterminedAgent[] = "User-Agent: Undetermined User Agent";
constexpr int kUserAgentNameLength = 10;
constexpr int kUserAgentBufferSize = 292;
constexpr int32_t kLowMemoryLength = 1000;  // what the log shows for a refused file
constexpr unsigned char kHighestTextByte = 0x80;
constexpr int32_t kHeaderRoom = 10000;  // the response holds content + this

// True when a byte of the block is above 0x80 (0x80 itself is text).
// Eight bytes at a time: a byte counts when its top bit is set and any of
// its low seven bits is (adding 0x7F to the low bits carries into the top).
bool HasByteAbove0x80(const unsigned char* p, size_t n) {
  constexpr uint64_t kTop = 0x8080808080808080ULL;
  constexpr uint64_t kLow = 0x7F7F7F7F7F7F7F7FULL;
  size_t i = 0;
  uint64_t found = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    found |= w & (((w & kLow) + kLow) & kTop);
  }
  if (found != 0) return true;
  for (; i < n; ++i) {
    if (p[i] > kHighestTextByte) return true;
  }
  return false;
}

}  // namespace

bool TPageProcessor::IsHtmlFile(const char* name, char** content, int32_t* length,
                                bool* lowMemory) {
  bool textFlag = true;
  try {
    *lowMemory = false;
    *length = 0;
    *content = nullptr;
    char path[kTextSize];
    CopyText(path, sizeof path, DocumentRoot);
    // A path cut to fit would name another file: too long counts as missing.
    if (name == nullptr || std::strlen(name) < 2 || !AppendText(path, sizeof path, name + 2)) {
      return textFlag;
    }
    // Opened first: its size comes with the handle, which saves the file
    // system a second walk of the path for every request.
    plat::File file = plat::File::Open(path, "rb");
    int64_t size = file.SizeAtOpen();
    if (!file.IsOpen()) {
      // Missing or a folder: size 0. Known but unreadable: only the memory
      // test can still refuse it; otherwise it is answered as missing and
      // never with unfilled memory.
      plat::FileStatus status;
      plat::GetFileStatus(path, &status);
      size = status.isDirectory ? 0 : status.size;
    }

    // Twice the size must stay below the free memory, and the response
    // (content and header room) must be countable in 32 bits.
    const bool tooLarge = size > INT32_MAX - kHeaderRoom;
    if (tooLarge || 2 * size >= static_cast<int64_t>(plat::AvailablePhysicalMemory())) {
      *lowMemory = true;
      plat::FreeBuffer(Content);
      Content = nullptr;
      ContentSize = 0;
      *length = kLowMemoryLength;
      return textFlag;
    }
    if (size <= 0 || !file.IsOpen()) return textFlag;

    plat::FreeBuffer(Content);
    Content = plat::AllocateBuffer(static_cast<size_t>(size));
    if (Content == nullptr) {
      // No room for the file: the same answer as the memory test gives.
      ContentSize = 0;
      *lowMemory = true;
      *length = kLowMemoryLength;
      return textFlag;
    }
    ContentSize = static_cast<int32_t>(size);

    Length = ContentSize;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(Content);
    size_t done = 0;
    const size_t total = static_cast<size_t>(size);
    while (done < total) {
      size_t got = file.Read(bytes + done, 1, total - done);
      if (got == 0) break;
      if (textFlag && HasByteAbove0x80(bytes + done, got)) textFlag = false;
      done += got;
    }
    // What could not be read (a file that shrank) stays zero.
    if (done < total) std::memset(bytes + done, 0, total - done);
    file.Close();
    *content = Content;
    *length = ContentSize;
    plat::Sleep(5);
    return textFlag;
  } catch (...) {
    LogError("Server Error: IsHtmlFile()");
    return false;
  }
}

bool TPageProcessor::BuildResponseHeader(char* response, const char* serverHeader,
                                         const char* lengthText, bool textFlag) {
  if (response == nullptr) return false;
  const int64_t room = RoomOf(response);
  const size_t before = TextLength(response, room);
  if (room >= 0 && before >= static_cast<size_t>(room)) return false;  // no terminator left
  try {
    TextAppender out(response, room);
    out.Add(kStatusLine200).Add(kDateLine).Add(kExpiresLine);
    out.Add(serverHeader != nullptr ? serverHeader : "").Add(kConnectionLine);
    if (lengthText != nullptr &&
        std::strncmp(lengthText, kNoLengthMark, sizeof kNoLengthMark - 1) != 0) {
      out.Add(kContentLengthName).Add(lengthText).Add(kContentLengthEnd);
    }
    out.Add(textFlag ? kTextTypeLine : kBinaryTypeLine).Add(kHeaderEnd);
    const bool ok = out.ok();
    if (!ok) response[before] = '\0';  // all or nothing
    return ok;
  } catch (...) {
    response[before] = '\0';
    return false;
  }
}

void TPageProcessor::LogRequest(bool lowMemory, bool textFlag, int32_t length, const char* pathText,
                                const char* request) {
  try {
    const uint8_t kind = textFlag ? kLogText : kLogBinary;
    if (lowMemory) WriteLog(kind, length, kInsufficientMemoryText, 0);
    WriteLog(kind, length, pathText != nullptr ? pathText : "", 1);
    char agent[kUserAgentBufferSize] = {};
    GetUserAgent(agent, request);
    if (agent[0] != '\0') WriteLog(kind, 1, agent, 0);
  } catch (...) {
  }
}

void TPageProcessor::GetUserAgent(char* out, const char* request) {
  if (out == nullptr) return;
  try {
    std::memset(out, 0, kTextSize);
    if (request == nullptr) return;
    const size_t length = std::strlen(request);
    if (length < static_cast<size_t>(kUserAgentNameLength)) return;
    size_t written = 0;
    size_t i = 0;
    while (i < length) {
      if (std::strncmp(request + i, kUserAgentName, kUserAgentNameLength) != 0) {
        ++i;
        continue;
      }
      while (i < length && request[i] != '\r' && request[i] != '\n' &&
             written < static_cast<size_t>(kTextSize)) {
        out[written++] = request[i++];
      }
      ++i;  // past the CR or LF that ended the line
    }
  } catch (...) {
    CopyText(out, kTextSize, kUndeterminedAgent);
  }
}

}  // namespace vostrel
