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
constexpr int32_t kHeaderRoom = 10000;      // the response holds content + this

// Largest byte of a block; one pass the compiler can vectorise.
unsigned char MaxByte(const unsigned char* p, size_t n) {
  unsigned char m = 0;
  for (size_t i = 0; i < n; ++i) m = p[i] > m ? p[i] : m;
  return m;
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
    plat::FileStatus status;
    plat::GetFileStatus(path, &status);
    const int64_t size = status.isDirectory ? 0 : status.size;

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
    if (size <= 0) return textFlag;

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

    plat::File file = plat::File::Open(path, "rb");
    if (!file.IsOpen()) {
      // Known but unreadable: answered as missing, never with unfilled memory.
      std::memset(Content, 0, ContentSize);
      return textFlag;
    }
    Length = ContentSize;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(Content);
    size_t done = 0;
    const size_t total = static_cast<size_t>(size);
    while (done < total) {
      size_t got = file.Read(bytes + done, 1, total - done);
      if (got == 0) break;
      if (MaxByte(bytes + done, got) > kHighestTextByte) textFlag = false;
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
  try {
    bool ok = AppendText(response, room, kStatusLine200) && AppendText(response, room, kDateLine) &&
              AppendText(response, room, kExpiresLine) &&
              AppendText(response, room, serverHeader != nullptr ? serverHeader : "") &&
              AppendText(response, room, kConnectionLine);
    if (ok && lengthText != nullptr &&
        std::strncmp(lengthText, kNoLengthMark, sizeof kNoLengthMark - 1) != 0) {
      ok = AppendText(response, room, kContentLengthName) && AppendText(response, room, lengthText) &&
           AppendText(response, room, kContentLengthEnd);
    }
    ok = ok && AppendText(response, room, textFlag ? kTextTypeLine : kBinaryTypeLine) &&
         AppendText(response, room, kHeaderEnd);
    if (!ok) response[before] = '\0';  // all or nothing
    return ok;
  } catch (...) {
    response[before] = '\0';
    return false;
  }
}

void TPageProcessor::LogRequest(bool lowMemory, bool textFlag, int32_t length,
                                const char* pathText, const char* request) {
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
