// Fixture of the request-core tests: a fresh machine folder per test, a
// document root C:\www\, the server lock, the fake clock, and readers for
// the log and the status file.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/locks/locks.h"
#include "platform/threads/fake_clock.h"
#include "server/http/Tpageprocessor.h"
#include "support/responses.h"
#include "support/temp_machine.h"

namespace vostrel::testing {

constexpr char kRoot[] = "C:\\www\\";

class CoreMachine : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Native path below the machine root ("c/www/a.htm").
  std::string Native(const std::string& rel) const;
  // A file of the document root (rel below c/www).
  void WriteDoc(const std::string& rel, const std::string& bytes) const;
  std::string ReadNative(const std::string& rel) const;

  std::unique_ptr<TPageProcessor> NewProcessor() const;
  // The Length bytes of GetNormalPage's answer ("<none>" when it gave none).
  std::string Serve(const std::string& request);
  std::string ServeWith(TPageProcessor& processor, const std::string& request);

  // The log file as written, and its entries with the text-mode line ends
  // turned back (CR LF -> LF), each 150 bytes when all is well.
  std::string LogFile() const;
  std::vector<std::string> LogEntries() const;

  testsupport::ScopedMachine machine_{"core"};
  plat::Mutex serverLock_;
  std::unique_ptr<plat::FakeClock> clock_;
};

// Expected texts, built from the literals of the design.
using testsupport::ErrorResponse;
using testsupport::Header200;
// One log entry as WriteLog forms it, with the stamp taken from the entry.
std::string ExpectedEntry(const std::string& entry, const std::string& text, bool textKind,
                          bool withSize, int size);

}  // namespace vostrel::testing
