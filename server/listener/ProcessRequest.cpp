// The request worker: reads one request, lets a TPageProcessor build the whole
// response, sends it in one send and closes the connection.
#include "server/listener/ProcessRequest.h"

#include <cctype>
#include <cstring>

#include "platform/locks/locks.h"
#include "platform/sockets/sockets.h"
#include "platform/threads/threads.h"
#include "server/http/TextBuffer.h"
#include "server/http/Tpageprocessor.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"

namespace vostrel {
namespace {

constexpr uint32_t kLockWaitMs = 10000;
constexpr char kHeaderBlockEnd[] = "\r\n\r\n";
constexpr char kContentLengthName[] = "content-length:";

// Position just after the first CR LF CR LF in the n bytes, or -1.
int BodyStart(const char* buffer, int n) {
  for (int i = 0; i + 4 <= n; ++i) {
    if (std::memcmp(buffer + i, kHeaderBlockEnd, 4) == 0) return i + 4;
  }
  return -1;
}

// The Content-Length announced in the header block buffer[0, end), or -1.
long AnnouncedLength(const char* buffer, int end) {
  const int nameLength = sizeof kContentLengthName - 1;
  for (int i = 0; i < end; ++i) {
    if (i > 0 && buffer[i - 1] != '\n') continue;  // header names start a line
    if (i + nameLength > end) break;
    bool match = true;
    for (int k = 0; k < nameLength && match; ++k) {
      match = std::tolower(static_cast<unsigned char>(buffer[i + k])) == kContentLengthName[k];
    }
    if (!match) continue;
    int p = i + nameLength;
    while (p < end && (buffer[p] == ' ' || buffer[p] == '\t')) ++p;
    if (p >= end || !std::isdigit(static_cast<unsigned char>(buffer[p]))) return -1;
    long value = 0;
    while (p < end && std::isdigit(static_cast<unsigned char>(buffer[p]))) {
      if (value <= kRequestBufferSize) value = value * 10 + (buffer[p] - '0');  // capped
      ++p;
    }
    return value;
  }
  return -1;
}

// Browsers send a long form body as a segment of its own: read on until the
// announced body is here, the buffer is full or the wait is over.
int ReadRestOfPost(plat::net::Socket s, char* buffer, int n) {
  if (std::strncmp(buffer, "POST", 4) != 0) return n;
  const int bodyStart = BodyStart(buffer, n);
  if (bodyStart < 0) return n;  // header block incomplete: the one read stands
  const long announced = AnnouncedLength(buffer, bodyStart);
  if (announced < 0) return n;
  const uint32_t start = plat::GetTickCount();
  while (n < kRequestBufferSize && n - bodyStart < announced) {
    const uint32_t waited = plat::GetTickCount() - start;
    if (waited >= kPostBodyWaitMs) break;
    int got =
        plat::net::RecvTimeout(s, buffer + n, kRequestBufferSize - n, 0, kPostBodyWaitMs - waited);
    if (got <= 0) break;  // time-out, peer closed or failure
    n += got;
  }
  return n;
}

}  // namespace

int ReadRequest(plat::net::Socket s, char* buffer, uint32_t peekTimeoutMs) {
  int n = plat::net::RecvTimeout(s, buffer, kRequestBufferSize, plat::net::kMsgPeek, peekTimeoutMs);
  if (n == plat::net::kSocketError || n <= 0 || n > kRequestBufferSize) return n > 0 ? -1 : n;
  int got = plat::net::Recv(s, buffer, kRequestBufferSize, 0);
  // The peek copied the same bytes; a failed read leaves them in place.
  if (got > 0) n = got;
  n = ReadRestOfPost(s, buffer, n);
  buffer[kRequestBufferSize] = '\0';
  return n;
}

uint32_t ProcessRequest(void* socketEntry) {
  if (socketEntry == nullptr) return 0;
  const plat::net::Socket s = *static_cast<const int32_t*>(socketEntry);
  // One byte more than a request may fill, so it is always terminated.
  char buffer[kRequestBufferSize + 1] = {};

  if (ReadRequest(s, buffer) <= 0) {
    plat::net::Send(s, kNoDataText, kNoDataLength, 0);
    plat::net::CloseSocket(s);
    return 0;
  }

  TPageProcessor* processor = nullptr;
  bool usesStore = false;
  bool closed = false;
  try {
    processor = new TPageProcessor(kProcessorSize, ServerLock);
    processor->JournalLock = JournalLock;
    // Only a time-out counts as failure; without a lock there is nothing to wait on.
    const bool locked =
        ServerLock == nullptr || ServerLock->Wait(kLockWaitMs) == plat::WaitResult::Acquired;
    if (locked) {
      CopyText(processor->DocumentRoot, sizeof processor->DocumentRoot, ConfigRoot);
      CopyText(processor->JournalPassword, sizeof processor->JournalPassword, ConfigPassword);
      // Taken with the configuration, so the service stop can wait for us.
      processor->Store = JournalStore;
      if (processor->Store != nullptr) {
        ++StoreUsers;
        usesStore = true;
      }
      if (ServerLock != nullptr) ServerLock->Release();
    }

    const char* response = processor->GetNormalPage(buffer);
    int32_t n = processor->GetLength();
    if (response == processor->Response && n > processor->ResponseSize) {
      n = processor->ResponseSize;
    }
    if (response != nullptr && n > 0) plat::net::Send(s, response, n, 0);

    plat::net::CloseSocket(s);
    closed = true;
    plat::Sleep(5);
    delete processor;
    processor = nullptr;
    if (usesStore) --StoreUsers;
  } catch (...) {
    delete processor;
    if (usesStore) --StoreUsers;
    ServerLog("Server error: ProcessRequest()", true);
    if (!closed) plat::net::CloseSocket(s);
  }
  return 0;
}

}  // namespace vostrel
