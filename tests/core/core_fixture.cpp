// The request-core fixture: temporary machine, document root, log readers.
#include "core_fixture.h"

#include <cstdio>
#include <filesystem>

#include "platform/faults/faults.h"
#include "platform/memory/memory.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"

namespace vostrel::testing {

void CoreMachine::SetUp() {
  ASSERT_TRUE(machine_.ok());
  std::filesystem::create_directories(Native("c/www"));
  plat::ClearFaults();
  plat::SetAvailablePhysicalMemoryForTest(0);
  CloseServerLog();  // a stream left open by an earlier test names its folder
  ServerLock = &serverLock_;
  std::snprintf(ConfigRoot, sizeof ConfigRoot, "%s", kRoot);
  std::snprintf(ConfigPassword, sizeof ConfigPassword, "%s", "pw");
  JournalStore = nullptr;
  JournalLock = nullptr;
  clock_ = std::make_unique<plat::FakeClock>();
}

void CoreMachine::TearDown() {
  plat::ClearFaults();
  plat::SetAvailablePhysicalMemoryForTest(0);
  CloseServerLog();
  ServerLock = nullptr;
  clock_.reset();
}

std::string CoreMachine::Native(const std::string& rel) const { return machine_.Native(rel); }

void CoreMachine::WriteDoc(const std::string& rel, const std::string& bytes) const {
  testsupport::WriteWholeFile(Native("c/www/" + rel), bytes);
}

std::string CoreMachine::ReadNative(const std::string& rel) const {
  return testsupport::ReadWholeFile(Native(rel));
}

std::unique_ptr<TPageProcessor> CoreMachine::NewProcessor() const {
  auto p = std::make_unique<TPageProcessor>(kProcessorSize, ServerLock);
  std::snprintf(p->DocumentRoot, sizeof p->DocumentRoot, "%s", kRoot);
  return p;
}

std::string CoreMachine::Serve(const std::string& request) {
  auto p = NewProcessor();
  return ServeWith(*p, request);
}

std::string CoreMachine::ServeWith(TPageProcessor& processor, const std::string& request) {
  std::vector<char> text(request.begin(), request.end());
  text.push_back('\0');
  char* response = processor.GetNormalPage(text.data());
  if (response == nullptr) return "<none>";
  return std::string(response, processor.GetLength());
}

std::string CoreMachine::LogFile() const { return ReadNative("c/WINDOWS/system/VostrelWeb.log"); }

std::vector<std::string> CoreMachine::LogEntries() const {
  std::string raw = LogFile();
  std::string plain;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    plain += raw[i];
  }
  std::vector<std::string> entries;
  for (size_t i = 0; i < plain.size(); i += kLogEntrySize) {
    entries.push_back(plain.substr(i, kLogEntrySize));
  }
  return entries;
}

std::string ExpectedEntry(const std::string& entry, const std::string& text, bool textKind,
                          bool withSize, int size) {
  // "\r\nLog: " then the stamp up to its kind.
  const std::string kind = textKind ? " Text  " : " Binary";
  size_t start = std::string("\r\nLog: ").size();
  size_t end = entry.find(kind, start);
  if (end == std::string::npos) return "<no stamp in entry>";
  std::string stamp = entry.substr(start, end - start) + kind;
  char line[256];
  std::string(256, ' ').copy(line, 256);
  if (withSize) {
    std::snprintf(line, sizeof line, "\r\nLog: %s \t %s \t\t Size: %d \r\n", stamp.c_str(),
                  text.c_str(), size);
  } else {
    std::snprintf(line, sizeof line, "\r\nLog: %s \t %s \t\t\r\n", stamp.c_str(), text.c_str());
  }
  // In the file the CR LF pairs came out as CR CR LF; LogEntries turned each
  // written LF (now CR LF) back, so the entry reads as formatted.
  return std::string(line, kLogEntrySize);
}

}  // namespace vostrel::testing
