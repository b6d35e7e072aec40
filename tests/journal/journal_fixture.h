// A temporary machine with a real journal store and a processor wired like a
// worker's, plus the expected journal texts built from the literal lists of
// the journal's design (independently of the server's code).
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/locks/locks.h"
#include "server/http/Tpageprocessor.h"
#include "server/journal/JournalPage.h"
#include "server/store/TAsDB.h"
#include "support/responses.h"
#include "support/temp_machine.h"

namespace vostrel::testing {

constexpr char kPassword[] = "secret";
constexpr char kLeftColumnLine[] = "Thank you for reading this page of my journal.";

class JournalMachine : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A fresh processor as a worker makes it (password, locks, store).
  std::unique_ptr<TPageProcessor> NewProcessor();
  // The whole response of GetNormalPage for a request text.
  std::string Serve(const std::string& request);
  std::string Post(const std::string& body, const std::string& path = "/JOURNAL_SAVE");

  void PutPage(const JournalPageRecord& record);
  JournalPageRecord ReadPage(int key);
  static JournalPageRecord NewRecord(int key);

  // Files in the machine's images folder; returns the names in the order the
  // directory search gives them.
  std::vector<std::string> MakeImages(const std::vector<std::string>& names);
  std::string LogText() const;

  testsupport::ScopedMachine machine_{"journal"};
  std::string password_ = kPassword;
  plat::Mutex serverLock_;
  plat::Mutex journalLock_;
  std::unique_ptr<TAsDB> store_;
  bool withStore_ = true;
};

// Expected texts.
using testsupport::ErrorResponse;
using testsupport::Header200;  // length < 0: no Content-Length
std::string Style();

struct PageParts {
  std::string background = "VBlogBackGround.PNG";
  std::string header = "VBlogHeader.PNG";
  std::string left1 = "VBlogLeft.PNG";
  std::string left2 = "VBlogLeft.PNG";
  std::string left3 = "VBlogLeft.PNG";
  std::string color = "blue";
  std::string text;
  std::string previous = "1";
  std::string next = "2";
  std::string page = "1";
};
std::string JournalPageText(const PageParts& parts);

std::string LoginPageText();
std::string SecurityWarningText();

struct EditorParts {
  std::string storedText;     // as stored, in store codes
  std::vector<std::string> imageFiles;  // the folder's listing order
  std::string top = "VBlogHeader.PNG";
  std::string left1 = "VBlogLeft.PNG";
  std::string left2 = "VBlogLeft.PNG";
  std::string left3 = "VBlogLeft.PNG";
  std::string background = "VBlogBackground.PNG";
  int colorSelected = 0;
  std::string pageEcho;
};
std::string EditorPageText(const EditorParts& parts);

}  // namespace vostrel::testing
