// TManager: keeps the traffic counters in the 308-byte status record and
// rewrites the status file in place, under the server lock.
#include "server/stats/Unittmanager.h"

#include <cctype>
#include <cstring>

#include "platform/files/files.h"
#include "platform/locks/locks.h"
#include "platform/threads/threads.h"
#include "server/http/Tpageprocessor.h"

namespace vostrel {
namespace {

constexpr uint32_t kLockWaitMs = 10000;
constexpr uint32_t kMsPerMinute = 60000;
constexpr int kWriteTries = 5;
constexpr int kAddressCopied = 15;  // the last byte of Address stays the terminator

}  // namespace

TManager::TManager() {
  std::memset(&Record, 0, sizeof Record);
  MinutesAccumulator = 0;
  StartTick = plat::GetTickCount();
}

TManager::~TManager() {
  if (statusFile_ != nullptr) statusFile_->Close();
}

void TManager::OpenStatusFile(const char* path) {
  try {
    if (statusFile_ != nullptr && statusFile_->IsOpen()) return;
    if (path == nullptr) return;
    auto file = std::make_unique<plat::File>(plat::File::Open(path, "wb"));
    if (file->IsOpen()) statusFile_ = std::move(file);
  } catch (...) {
  }
}

uint32_t TManager::UpdateMinutes() {
  try {
    const uint32_t now = plat::GetTickCount();
    // Unsigned arithmetic: the tick count wraps after 49.7 days.
    if (now != StartTick) MinutesAccumulator += now - StartTick;
    if (MinutesAccumulator > 0) MinutesAccumulator /= kMsPerMinute;
    if (MinutesAccumulator > 0) Record.Minutes = MinutesAccumulator;
  } catch (...) {
    MinutesAccumulator = 0;
  }
  return MinutesAccumulator;
}

void TManager::ClearRequestInfo() {
  std::memset(Record.Address, 0, kAddressCopied);
  std::memset(Record.LastRequest, 0, sizeof Record.LastRequest);
}

void TManager::CountRequest(const char* request, int n) {
  if (request == nullptr || n <= 0) return;
  if (n > kRequestBufferSize) n = kRequestBufferSize;
  char work[kRequestBufferSize + 1] = {};
  std::memcpy(work, request, n);
  for (int i = 0; i < n; ++i) {
    work[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(work[i])));
  }
  if (std::strncmp(work, "GET", 3) == 0) ++Record.GetRequests;
  if (std::strncmp(work, "HEAD", 4) == 0) ++Record.HeadRequests;
  if (std::strncmp(work, "POST", 4) == 0) ++Record.PostRequests;
}

void TManager::SetAddress(const char* text) {
  if (text == nullptr) return;
  size_t n = 0;
  while (n < static_cast<size_t>(kAddressCopied) && text[n] != '\0') ++n;
  std::memset(Record.Address, 0, kAddressCopied);
  std::memcpy(Record.Address, text, n);
  Record.Address[kStatusAddressSize - 1] = '\0';
}

void TManager::WriteStatus() {
  try {
    StatusRecord copy;
    std::memcpy(&copy, &Record, sizeof copy);
    if (ServerLock != nullptr && ServerLock->Wait(kLockWaitMs) == plat::WaitResult::TimedOut) {
      return;
    }
    for (int attempt = 0; attempt < kWriteTries; ++attempt) {
      if (statusFile_ != nullptr && statusFile_->IsOpen()) {
        statusFile_->Seek(0, 0);
        statusFile_->Write(&copy, sizeof copy, 1);
        statusFile_->Flush();
        break;
      }
      plat::Sleep(5);
    }
    if (ServerLock != nullptr) ServerLock->Release();
  } catch (...) {
    if (ServerLock != nullptr) ServerLock->Release();
  }
}

}  // namespace vostrel
