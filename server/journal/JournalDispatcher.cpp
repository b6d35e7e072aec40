// The journal's entry point: runs one journal action at a time under the
// journal lock, classifies posted forms, and checks the administrator log-on.
#include <cstring>

#include "platform/locks/locks.h"
#include "server/http/Tpageprocessor.h"
#include "server/journal/JournalBuffer.h"
#include "server/journal/JournalForm.h"

namespace vostrel {
namespace {

constexpr uint32_t kJournalLockWaitMs = 10000;

// Journal action codes.
constexpr int kActionLoginPage = 1;
constexpr int kActionEditorPage = 3;
constexpr int kActionSave = 5;

// ClassifyJournalPost results.
constexpr int kPostSave = 200;
constexpr int kPostNotPost = 300;
constexpr int kPostAdmin = 400;
constexpr int kPostNoAction = 0;
constexpr int kPostFailed = 999;

constexpr char kSaveActionId[] = "JOURNAL_SAVE";
constexpr char kAdminActionId[] = "JOURNAL_ADMIN";
constexpr char kPostMethod[] = "POST";
constexpr char kChiefName[] = "Chief";

}  // namespace

void TPageProcessor::RunJournalAction(char* request, char* response, int code) {
  try {
    plat::Mutex* lock = JournalLock;
    if (lock != nullptr && lock->Wait(kJournalLockWaitMs) == plat::WaitResult::TimedOut) return;
    try {
      if (Store != nullptr) {
        switch (code) {
          case kActionLoginPage: GetLoginPage(request, response); break;
          case kActionEditorPage: GetEditorPage(request, response); break;
          case kActionSave: SaveJournalPage(request, response); break;
          default: break;
        }
      }
    } catch (...) {
      // The client gets what had been appended.
    }
    if (lock != nullptr) lock->Release();
  } catch (...) {
  }
}

int TPageProcessor::HandleJournalPost(char* request, char* response) {
  try {
    switch (ClassifyJournalPost(request)) {
      case kPostSave: RunJournalAction(request, response, kActionSave); break;
      case kPostAdmin: RunJournalAction(request, response, kActionEditorPage); break;
      default: break;
    }
    return 0;
  } catch (...) {
    return kPostFailed;
  }
}

int TPageProcessor::ClassifyJournalPost(char* request) {
  char method[kTextSize + 1] = {};
  GetPieceOfRequest(1, request, method);
  if (std::strncmp(method, kPostMethod, std::strlen(kPostMethod)) != 0) return kPostNotPost;
  char actionId[kFieldBufferSize] = {};
  GetFormField("ActionID", request, actionId, kActionIdLimit);
  if (std::strcmp(actionId, kSaveActionId) == 0) return kPostSave;
  if (std::strcmp(actionId, kAdminActionId) == 0) return kPostAdmin;
  return kPostNoAction;
}

bool TPageProcessor::CheckLogOn(char* request, char* response) {
  char userName[kFieldBufferSize] = {};
  GetFormField("UserName", request, userName, kUserNameLimit);
  char password[kFieldBufferSize] = {};
  GetFormField("Password", request, password, kPasswordLimit);

  const bool nameOk = std::strncmp(userName, kChiefName, std::strlen(kChiefName)) == 0;
  const std::size_t configured = BoundedLength(JournalPassword, kTextSize);
  const bool passwordOk = password[0] != '\0' && std::strlen(password) == configured &&
                          std::memcmp(password, JournalPassword, configured) == 0;
  if (nameOk && passwordOk) return true;
  AddSecurityWarning(response);
  return false;
}

void TPageProcessor::AddSecurityWarning(char* response) {
  TJournalWriter out(response, JournalCapacity(*this, response));
  out.Append("<HTML><HEAD><TITLE>Security Warning</TITLE></HEAD><BODY>");
  out.Append(
      "<B>Warning!</B>  Security credentials will be required to access this page again<BR><BR>If "
      "you have just saved a page, you may view it by typing <BR>http://127.0.0.1/JOURNAL_SHOW1 into "
      "the address bar.");
  out.Append("</BODY></HTML>");
}

}  // namespace vostrel
