// Journal entry points until the journal is built: they answer as the journal
// does when it has no store (no page, no action).
#include "server/http/Tpageprocessor.h"

namespace vostrel {

void TPageProcessor::RunJournalAction(char*, char*, int) {}
int TPageProcessor::HandleJournalPost(char*, char*) { return 0; }
void TPageProcessor::GetJournalPage(const char*, char*, int32_t* length) {
  if (length != nullptr) *length = 0;
}

}  // namespace vostrel
