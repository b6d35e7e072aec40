// TPageProcessor's request dispatcher: splits the request line, checks the
// path and routes the request to the file responder, the error responses or
// the journal, building the whole response in memory.
#include "server/http/Tpageprocessor.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/Unitencryption.h"
#include "platform/faults/faults.h"
#include "platform/threads/threads.h"
#include "server/http/TextBuffer.h"

namespace vostrel {
namespace {

// The server identification header, scrambled: first byte as is, every later
// byte raised by 50. It restores to 46 characters of whole header lines and
// a NUL; the last bytes restore to NULs as well.
constexpr unsigned char kStoredServerHeader[52] = {
    0x53, 0x97, 0xA4, 0xA8, 0x97, 0xA4, 0x6C, 0x52, 0x88, 0xA1, 0xA5, 0xA6, 0xA4,
    0x97, 0x9E, 0x52, 0x89, 0x97, 0x94, 0x52, 0x85, 0x97, 0xA4, 0xA8, 0x97, 0xA4,
    0x61, 0x63, 0x60, 0x63, 0x60, 0x67, 0x52, 0x5A, 0x89, 0x9B, 0xA0, 0x65, 0x64,
    0x52, 0xAA, 0x6A, 0x68, 0x5B, 0x3F, 0x3C, 0x32, 0x32, 0x32, 0x32, 0x32, 0x32};

constexpr int kTooLargeRequest = 8000;  // request texts this long are refused whole
constexpr char kTooLargePiece[] = "ClientDataTooLarge.htm";
constexpr char kBadPiece[] = "AABadFileName.htm";
constexpr char kIndexName[] = " \\index.htm";  // the piece that "/" stands for
constexpr char kRootPiece[] = " \\";
constexpr char kJournalAdmin[] = "JOURNAL_ADMIN";
constexpr char kJournalShow[] = "JOURNAL_SHOW";
constexpr int kResponseSlack = 10000;  // room for the header block beyond the content
constexpr int kUnknownMethodCode = 501;

// A zero-filled buffer from the platform allocator (which tests can refuse).
char* NewZeroedBuffer(int64_t size) {
  if (size <= 0) return nullptr;
  char* p = plat::AllocateBuffer(static_cast<size_t>(size));
  if (p != nullptr) std::memset(p, 0, static_cast<size_t>(size));
  return p;
}

}  // namespace

TPageProcessor::TPageProcessor(int32_t size, plat::Mutex* serverLock) : ServerLock(serverLock) {
  std::memset(JournalPassword, 0, sizeof JournalPassword);
  std::memset(DocumentRoot, 0, sizeof DocumentRoot);
  Response = NewZeroedBuffer(size);
  ResponseSize = Response != nullptr ? size : 0;
  Content = NewZeroedBuffer(size);
  ContentSize = Content != nullptr ? size : 0;
  Length = size;
  std::memset(ServerHeader, 0, sizeof ServerHeader);
  std::memcpy(ServerHeader, kStoredServerHeader, sizeof kStoredServerHeader);
  RestoreText(ServerHeader);
}

TPageProcessor::~TPageProcessor() {
  plat::FreeBuffer(Response);
  plat::FreeBuffer(Content);
}

int64_t TPageProcessor::RoomOf(const char* buffer) const {
  if (buffer == nullptr) return -1;
  auto within = [buffer](const char* start, int32_t size) {
    return start != nullptr && buffer >= start && buffer < start + size;
  };
  if (within(Response, ResponseSize)) return Response + ResponseSize - buffer;
  if (within(Content, ContentSize)) return Content + ContentSize - buffer;
  return -1;
}

int32_t TPageProcessor::GetLength() const { return Length; }

void TPageProcessor::GetPieceOfRequest(int index, const char* request, char* out) {
  try {
    if (out == nullptr) return;
    size_t length = request != nullptr ? std::strlen(request) : 0;
    if (length >= static_cast<size_t>(kTooLargeRequest)) {
      CopyText(out, kTextSize, kTooLargePiece);
      return;
    }
    std::memset(out, 0, kTextSize);
    const size_t looked = length < static_cast<size_t>(kTextSize) ? length : kTextSize;
    // Piece ends: 0, then every space after the first character.
    std::vector<size_t> ends{0};
    for (size_t i = 1; i < looked; ++i) {
      if (request[i] == ' ') ends.push_back(i);
    }
    if (index < 1 || static_cast<size_t>(index) >= ends.size()) {
      CopyText(out, kTextSize, kBadPiece);
      return;
    }
    size_t start = ends[index - 1];
    size_t end = ends[index];
    if (end <= start || end >= static_cast<size_t>(kTextSize)) {
      CopyText(out, kTextSize, kBadPiece);
      return;
    }
    std::memcpy(out, request + start, end - start);
  } catch (...) {
    LogError("Server Error: GetPieceOfRequest()");
  }
}

void TPageProcessor::FixFileName(char* piece) {
  try {
    if (piece == nullptr) return;
    for (int i = 0; i < kTextSize; ++i) {
      if (piece[i] == '/') piece[i] = '\\';
    }
  } catch (...) {
    LogError("Server Error: FixFileName()");
  }
}

bool TPageProcessor::IsAllowedFileName(const char* name) {
  if (name == nullptr) return false;
  // The first character is the path's own slash; what follows may hold no
  // escape and at most one dot, so ".." can never appear.
  int dots = 0;
  for (int i = 1; i < kTextSize - 1 && name[i - 1] != '\0' && name[i] != '\0'; ++i) {
    if (name[i] == '%') return false;
    if (name[i] == '.' && ++dots > 1) return false;
  }
  return true;
}

bool TPageProcessor::GrowResponseBuffer(int32_t n) {
  if (!GrowResponseBufferForContent(n)) return false;
  std::memset(Response + kResponseSlack, 0, ResponseSize - kResponseSlack);
  return true;
}

bool TPageProcessor::GrowResponseBufferForContent(int32_t n) {
  try {
    if (n < 0 || n > INT32_MAX - kResponseSlack) return false;
    // The new buffer first: when it cannot be had, the old one still carries
    // the error response.
    char* fresh = plat::AllocateBuffer(static_cast<size_t>(n) + kResponseSlack);
    if (fresh == nullptr) return false;
    std::memset(fresh, 0, kResponseSlack);
    plat::FreeBuffer(Response);
    Response = fresh;
    ResponseSize = n + kResponseSlack;
    Length = kResponseSlack;
    return true;
  } catch (...) {
    return false;
  }
}

void TPageProcessor::LogError(const char* text) { WriteLog(kLogBinary, 1, text, 0); }

char* TPageProcessor::GetNormalPage(char* request) {
  try {
    plat::Sleep(10);
    if (Response == nullptr) {
      Length = 0;
      return nullptr;
    }
    char lengthText[kLengthTextSize] = {};
    char pathText[kTextSize] = {};
    CopyText(pathText, sizeof pathText, DocumentRoot);
    char noRequest[1] = {};
    if (request == nullptr) request = noRequest;
    const char* text = request;

    auto finishError = [this](int code) {
      BuildErrorResponse(code, Response);
      Length = static_cast<int32_t>(TextLength(Response, ResponseSize));
      return Response;
    };

    char method[kTextSize];
    GetPieceOfRequest(1, text, method);
    const bool isGet = std::strncmp(method, "GET", 3) == 0;
    const bool isHead = std::strncmp(method, "HEAD", 4) == 0;
    const bool isPost = std::strncmp(method, "POST", 4) == 0;

    if (isPost) {
      if (!GrowResponseBuffer(kJournalArea)) {
        Length = kOutOfMemoryLength;
        return const_cast<char*>(kOutOfMemoryText);
      }
      int result = HandleJournalPost(request, Response);
      Length = static_cast<int32_t>(TextLength(Response, ResponseSize));
      if (result != 0) return finishError(403);
      return Response;
    }
    if (!isGet && !isHead) return finishError(kUnknownMethodCode);

    char name[kTextSize];
    GetPieceOfRequest(2, text, name);
    FixFileName(name);
    if (!IsAllowedFileName(name + 1)) return finishError(403);
    if (std::strcmp(name, kRootPiece) == 0) {
      CopyText(name, sizeof name, kIndexName);
    } else if (!AppendText(pathText, sizeof pathText, name + 2)) {
      // Too long to name a file below the root; cut, it is only logged.
      CopyText(pathText + TextLength(pathText, sizeof pathText),
               sizeof pathText - TextLength(pathText, sizeof pathText), name + 2);
    }
    const char* filePart = name + 2;

    if (std::strncmp(filePart, kJournalAdmin, sizeof kJournalAdmin - 1) == 0) {
      if (!GrowResponseBuffer(kJournalArea)) {
        Length = kOutOfMemoryLength;
        return const_cast<char*>(kOutOfMemoryText);
      }
      RunJournalAction(request, Response, 1);
      Length = static_cast<int32_t>(TextLength(Response, ResponseSize));
      return Response;
    }

    char* content = nullptr;
    int32_t contentLength = 0;
    bool lowMemory = false;
    bool textFlag = true;
    if (std::strncmp(filePart, kJournalShow, sizeof kJournalShow - 1) == 0) {
      if (Content != nullptr) {
        std::memset(Content, 0, ContentSize);
        GetJournalPage(request, Content, &contentLength);
        // The renderer may have moved the page into a larger Content.
        content = Content;
        if (contentLength > ContentSize) contentLength = ContentSize;
      }
    } else {
      textFlag = IsHtmlFile(name, &content, &contentLength, &lowMemory);
      LogRequest(lowMemory, textFlag, contentLength, pathText, text);
    }

    // The buffer ends up zero-filled but for header and content, as a fully
    // zeroed one would be; each byte of a large file is written only once.
    if (!GrowResponseBufferForContent(contentLength < 0 ? 0 : contentLength)) {
      return finishError(500);
    }
    auto zeroFrom = [this](int64_t at) {
      if (at < ResponseSize) std::memset(Response + at, 0, ResponseSize - at);
    };
    std::snprintf(lengthText, sizeof lengthText, "%d", contentLength);
    if (lowMemory || content == nullptr || contentLength <= 0 ||
        !BuildResponseHeader(Response, ServerHeader, lengthText, textFlag)) {
      zeroFrom(kResponseSlack);
      return finishError(lowMemory || (content != nullptr && contentLength > 0) ? 500 : 404);
    }
    const int32_t headerLength = static_cast<int32_t>(TextLength(Response, ResponseSize));
    if (isHead || static_cast<int64_t>(headerLength) + contentLength > ResponseSize) {
      zeroFrom(kResponseSlack);
      if (!isHead) {
        std::memset(Response, 0, kResponseSlack);
        return finishError(500);
      }
      Length = headerLength;
      return Response;
    }
    std::memcpy(Response + headerLength, content, contentLength);
    zeroFrom(static_cast<int64_t>(headerLength) + contentLength);
    Length = headerLength + contentLength;
    return Response;
  } catch (...) {
    LogError("Server Error: GetNormalPage()");
    return nullptr;
  }
}

}  // namespace vostrel
