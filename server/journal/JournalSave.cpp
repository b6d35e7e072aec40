// The journal save: one page record built from the editor's form, written to
// the store, and answered with the page as a GET for it would get it.
#include <cstring>
#include <string>

#include "platform/locks/locks.h"
#include "server/http/Tpageprocessor.h"
#include "server/journal/JournalBuffer.h"
#include "server/journal/JournalForm.h"
#include "server/journal/JournalPage.h"
#include "server/store/TAsDB.h"

namespace vostrel {
namespace {

constexpr uint32_t kServerLockWaitMs = 10000;
constexpr int kStoreDone = 0;
constexpr int kDatabaseError = 502;
constexpr int kUnknownError = 501;

// Reads one image name field into a record field: only characters a Windows
// file name can hold, at most 24; empty leaves the field zero.
void ReadImageName(const char* fieldName, char* request, char* field) {
  char value[kFieldBufferSize] = {};
  GetFormField(fieldName, request, value, kImageNameLimit);
  CleanImageName(value);
  std::memcpy(field, value, BoundedLength(value, kImageNameSize));
}

}  // namespace

int TPageProcessor::GetColorIndex(const char* name) {
  if (name == nullptr) return 0;
  for (int i = 0; i < kFontColorCount; ++i) {
    if (std::strcmp(FontColors[i], name) == 0) return i;
  }
  return 0;
}

int TPageProcessor::GetSkinIndex(const char* name) {
  if (name == nullptr) return 0;
  for (int i = 0; i < kSkinCount; ++i) {
    if (std::strcmp(SkinNames[i], name) == 0) return i;
  }
  return 0;
}

void TPageProcessor::SaveJournalPage(char* request, char* response) {
  try {
    JournalPageRecord record;
    std::memset(&record, 0, sizeof(record));
    record.IndexNumber = kJournalIndexNumber;
    record.Key = kFirstPage;

    char value[kFieldBufferSize] = {};
    GetFormField("NUMBER_COLUMNS", request, value, kColumnsLimit);
    const int32_t columns = ReadLeadingInteger(value);
    record.Columns = columns > 1 ? columns : kDefaultColumns;

    {
      std::string post(kJournalPostBufferSize, '\0');
      GetFormField("JOURNALPOST", request, post.data(), kJournalPostLimit);
      const std::size_t sent = std::strlen(post.c_str());
      if (sent > 0) {
        DecodeFormText(post.data(), static_cast<int>(sent));
        std::memcpy(record.JournalText, post.data(), kJournalPostLimit);
      }
    }

    ReadImageName("TOP_GRAPHIC", request, record.TopGraphic);
    ReadImageName("BACKGROUND_GRAPHIC", request, record.BackgroundGraphic);
    ReadImageName("LEFT_GRAPHIC1", request, record.LeftGraphic1);
    ReadImageName("LEFT_GRAPHIC2", request, record.LeftGraphic2);
    ReadImageName("LEFT_GRAPHIC3", request, record.LeftGraphic3);

    std::memset(value, 0, sizeof(value));
    GetFormField("FONT_COLOR", request, value, kFontColorLimit);
    record.FontColorIndex = GetColorIndex(value);
    std::memset(value, 0, sizeof(value));
    GetFormField("SKIN_NAME", request, value, kSkinNameLimit);
    record.SkinIndex = GetSkinIndex(value);

    char pageNumber[kFieldBufferSize] = {};
    GetFormField("PAGE_NUMBER", request, pageNumber, kPageNumberLimit);
    const int32_t key = ReadLeadingInteger(pageNumber);
    if (key != 0) record.Key = key;

    if (ServerLock != nullptr && ServerLock->Wait(kServerLockWaitMs) == plat::WaitResult::TimedOut) {
      BuildErrorResponse(kDatabaseError, response);
      return;
    }
    TAsDBRecord stored;
    static_assert(sizeof(stored) == sizeof(record));
    std::memcpy(&stored, &record, sizeof(record));
    int code = kStoreDone;
    try {
      code = Store->WriteRecord(stored, record.Key, record.Key, kJournalIndexNumber).Code;
    } catch (...) {
      if (ServerLock != nullptr) ServerLock->Release();
      throw;
    }
    if (ServerLock != nullptr) ServerLock->Release();
    // A refused write must not be answered with the earlier page as if it
    // had been saved.
    if (code != kStoreDone) {
      BuildErrorResponse(kDatabaseError, response);
      return;
    }

    char show[kTextSize] = {};
    std::strcat(show, "GET /JOURNAL_SHOW");
    std::strcat(show, pageNumber);
    std::strcat(show, " HTTP/1.1 ");

    int32_t pageLength = 0;
    GetJournalPage(show, response, &pageLength);
    std::memset(response, 0, std::strlen(response));
    if (pageLength <= 0) {
      BuildErrorResponse(kUnknownError, response);
      return;
    }
    char lengthText[kLengthTextSize] = {};
    const std::string digits = std::to_string(pageLength);
    std::memcpy(lengthText, digits.data(), digits.size());
    if (!BuildResponseHeader(response, ServerHeader, lengthText, true)) {
      std::memset(response, 0, std::strlen(response));
      BuildErrorResponse(kUnknownError, response);
      return;
    }
    int32_t total = 0;
    GetJournalPage(show, response, &total);
    if (total <= 0) {
      std::memset(response, 0, std::strlen(response));
      BuildErrorResponse(kUnknownError, response);
    }
  } catch (...) {
    BuildErrorResponse(kUnknownError, response);
  }
}

}  // namespace vostrel
