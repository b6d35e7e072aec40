// The server log: TPageProcessor::WriteLog appends one 150-byte entry to
// VostrelWeb.log under the server lock; ServerLog and LogStatusLine are the
// ways in for code without a processor.
#include "server/listener/ServerLog.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files/files.h"
#include "platform/locks/locks.h"
#include "platform/machine/machine.h"
#include "platform/threads/threads.h"
#include "server/http/Tpageprocessor.h"
#include "server/listener/ServerGlobals.h"

namespace vostrel {
namespace {

constexpr uint32_t kLockWaitMs = 10000;
constexpr int kWindowsDirectorySize = 260;
constexpr char kLogMode[] = "a+t";
constexpr char kTextKind[] = " Text  ";
constexpr char kBinaryKind[] = " Binary";
constexpr char kFormatWithSize[] = "\r\nLog: %s \t %s \t\t Size: %d \r\n";
constexpr char kFormatWithoutSize[] = "\r\nLog: %s \t %s \t\t\r\n";
constexpr char kStatusFormat[] =
    "STATUS: %u Pages,   %d High Load Periods,   Average Time Between Pages (seconds): %10.2f";

// The one log stream of the process; only touched under the entry lock.
plat::File& LogStream() {
  static plat::File stream;
  return stream;
}

// Entries normally serialise on the server lock; a processor made without
// one (tests, early start-up) still must not race on the shared stream.
plat::Mutex& FallbackLock() {
  static plat::Mutex lock;
  return lock;
}

std::string LogPath() {
  char directory[kWindowsDirectorySize] = {};
  plat::GetWindowsDirectory(directory, sizeof directory);
  return std::string(directory) + kLogFileName;
}

}  // namespace

void TPageProcessor::WriteLog(uint8_t kind, int32_t size, const char* text, uint8_t withSize) {
  char line[kLogLineSize];
  std::memset(line, ' ', sizeof line);
  plat::Mutex* lock = ServerLock != nullptr ? ServerLock : &FallbackLock();
  if (lock->Wait(kLockWaitMs) == plat::WaitResult::TimedOut) return;  // entry dropped
  plat::File& stream = LogStream();
  try {
    if (!stream.IsOpen()) stream = plat::File::Open(LogPath(), kLogMode);
    if (!stream.IsOpen()) {
      lock->Release();
      return;
    }
    std::string stamp = plat::LocalDateTimeText() + (kind != 0 ? kTextKind : kBinaryKind);
    const char* body = text != nullptr ? text : "";
    // snprintf cuts an entry longer than the line buffer and terminates it;
    // the bytes after the terminator stay spaces.
    if (withSize != 0) {
      std::snprintf(line, sizeof line, kFormatWithSize, stamp.c_str(), body, size);
    } else {
      std::snprintf(line, sizeof line, kFormatWithoutSize, stamp.c_str(), body);
    }
    // Flushed at once, so a crash loses no entry.
    if (stream.Write(line, kLogEntrySize, 1) != 1 || stream.Flush() != 0) stream.Close();
    plat::Sleep(5);
  } catch (...) {
    if (stream.IsOpen()) stream.Close();
  }
  lock->Release();
}

void ServerLog(const char* text, bool releaseFlag) {
  try {
    TPageProcessor processor(kProcessorSize, ServerLock);
    processor.WriteLog(kLogBinary, 1, text, 0);
    plat::Sleep(5);
  } catch (...) {
  }
  // For callers on a failure path whose failing step may hold the lock; a
  // release by a thread that does not hold it changes nothing.
  if (releaseFlag && ServerLock != nullptr) ServerLock->Release();
}

void LogStatusLine(uint32_t acceptedCount, int32_t heavyLoadCount, double averageMs) {
  char line[kLogLineSize] = {};
  std::snprintf(line, sizeof line, kStatusFormat, acceptedCount, heavyLoadCount, averageMs * 0.001);
  ServerLog(line, false);
}

void CloseServerLog() {
  plat::Mutex* lock = ServerLock != nullptr ? ServerLock : &FallbackLock();
  const bool held = lock->Wait(kLockWaitMs) == plat::WaitResult::Acquired;
  // Also take the fallback lock: entries of processors without a lock use it.
  const bool fallbackHeld =
      lock != &FallbackLock() && FallbackLock().Wait(kLockWaitMs) == plat::WaitResult::Acquired;
  if (LogStream().IsOpen()) LogStream().Close();
  if (fallbackHeld) FallbackLock().Release();
  if (held) lock->Release();
}

}  // namespace vostrel
