// TManager: the traffic counters and the status file they are written to.
#pragma once
#include <cstdint>
#include <memory>

#include "common/StatusRecord.h"

namespace plat { class Mutex; class File; }

namespace vostrel {

class TManager {
 public:
  TManager();
  ~TManager();
  TManager(const TManager&) = delete;
  TManager& operator=(const TManager&) = delete;

  StatusRecord Record;                 // fields set directly by start-up and the listener
  plat::Mutex* ServerLock = nullptr;   // set by the creator
  uint32_t StartTick = 0;
  uint32_t MinutesAccumulator = 0;

  void OpenStatusFile(const char* path);
  uint32_t UpdateMinutes();
  void ClearRequestInfo();
  void CountRequest(const char* request, int n);
  void SetAddress(const char* text);
  void WriteStatus();

 private:
  std::unique_ptr<plat::File> statusFile_;
};

}  // namespace vostrel
