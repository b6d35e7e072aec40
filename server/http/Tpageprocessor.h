// TPageProcessor: the per-request context and response builder. The request
// dispatcher, static files and error responses live in server/http, the log
// writer in server/listener, the journal operations in server/journal.
#pragma once
#include <cstdint>

namespace plat { class Mutex; }

namespace vostrel {

class TAsDB;

constexpr int32_t kProcessorSize = 10000;        // every creator passes this
constexpr int32_t kRequestBufferSize = 10000;
constexpr int32_t kJournalArea = 1000000;        // GrowResponseBuffer(kJournalArea)
constexpr int kTextSize = 256;                   // paths, pieces, names
constexpr int kLengthTextSize = 12;
constexpr char kOutOfMemoryText[] = "Out of Memory.  Sorry.";
constexpr int32_t kOutOfMemoryLength = 22;

// Log kinds (WriteLog): non-zero " Text  ", zero " Binary".
constexpr uint8_t kLogText = 1;
constexpr uint8_t kLogBinary = 0;

class TPageProcessor {
 public:
  TPageProcessor(int32_t size, plat::Mutex* serverLock);
  ~TPageProcessor();
  TPageProcessor(const TPageProcessor&) = delete;
  TPageProcessor& operator=(const TPageProcessor&) = delete;

  // Fields, in the order of the design.
  char JournalPassword[kTextSize];
  plat::Mutex* JournalLock = nullptr;  // not owned; null without a store
  TAsDB* Store = nullptr;              // not owned
  char DocumentRoot[kTextSize];
  char* Response = nullptr;            // owned
  char* Content = nullptr;             // owned
  int32_t Length = 0;
  char ServerHeader[kTextSize];
  plat::Mutex* ServerLock = nullptr;   // not owned
  // Allocated sizes of Response and Content, so nothing writes past them.
  int32_t ResponseSize = 0;
  int32_t ContentSize = 0;

  // Bytes from buffer to the end of Response or Content when buffer points
  // into one of them, else -1 (a caller's own buffer of unknown size).
  int64_t RoomOf(const char* buffer) const;

  // Request dispatcher. The request is NUL-terminated and writable (the
  // journal's form reader cuts values in place).
  char* GetNormalPage(char* request);
  int32_t GetLength() const;
  void GetPieceOfRequest(int index, const char* request, char* out);
  void FixFileName(char* piece);
  bool IsAllowedFileName(const char* name);
  bool GrowResponseBuffer(int32_t n);
  // GrowResponseBuffer for a file's response: only the first 10000 bytes
  // (the header area) are zeroed; the caller fills or zeroes the rest.
  bool GrowResponseBufferForContent(int32_t n);
  void LogError(const char* text);

  // Static file responder.
  bool IsHtmlFile(const char* name, char** content, int32_t* length, bool* lowMemory);
  bool BuildResponseHeader(char* response, const char* serverHeader, const char* lengthText,
                           bool textFlag);
  void LogRequest(bool lowMemory, bool textFlag, int32_t length, const char* pathText,
                  const char* request);
  void GetUserAgent(char* out, const char* request);

  // Error responses.
  void GetStatusMessage(char* out, int code);
  void BuildErrorResponse(int code, char* response);

  // Server log (server/listener).
  void WriteLog(uint8_t kind, int32_t size, const char* text, uint8_t withSize);

  // Journal (server/journal).
  void RunJournalAction(char* request, char* response, int code);
  int HandleJournalPost(char* request, char* response);
  int ClassifyJournalPost(char* request);
  bool CheckLogOn(char* request, char* response);
  void AddSecurityWarning(char* response);
  // Appends the page body to out and sets *length (0 after a failure). When
  // out is Content and the page needs more than ContentSize bytes, Content
  // is replaced by a larger zeroed buffer holding the page: callers read the
  // page from Content afterwards.
  void GetJournalPage(const char* request, char* out, int32_t* length);
  int GetPageNumber(const char* request);
  void GetLoginPage(char* request, char* response);
  void GetEditorPage(char* request, char* response);
  void AddNumberSelect(char* response, const char* name, const char* label, int first, int end);
  void AddSkinSelect(char* response, const char* name, const char* label, int selected);
  void AddColorSelect(char* response, const char* name, const char* label, int selected);
  void AddImageSelect(char* response, const char* name, const char* label, const char* current);
  void SaveJournalPage(char* request, char* response);
  int GetColorIndex(const char* name);
  int GetSkinIndex(const char* name);
};

}  // namespace vostrel
