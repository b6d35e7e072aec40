// The server log: 150-byte entries appended to VostrelWeb.log of the system
// folder. WriteLog is TPageProcessor::WriteLog.
#pragma once
#include <cstdint>

namespace vostrel {

constexpr int kLogEntrySize = 150;
constexpr int kLogLineSize = 256;
constexpr char kLogFileName[] = "\\system\\VostrelWeb.log";

// One entry through a short-lived processor: kind Binary, no size field.
// releaseFlag: release the server lock once more afterwards (failure paths).
void ServerLog(const char* text, bool releaseFlag);
void LogStatusLine(uint32_t acceptedCount, int32_t heavyLoadCount, double averageMs);
// Tests: close the shared log stream so the next entry reopens the file.
void CloseServerLog();

}  // namespace vostrel
