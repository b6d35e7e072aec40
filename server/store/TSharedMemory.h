// The shared area of the store: attached at open when the lock file can be
// held, else left unused.
#pragma once
#include <cstdint>
#include <memory>

#include "server/store/TSemaphore.h"

namespace vostrel {

class TSharedMemory {
 public:
  TSharedMemory() = default;
  ~TSharedMemory() = default;  // destroys the semaphore
  TSharedMemory(const TSharedMemory&) = delete;
  TSharedMemory& operator=(const TSharedMemory&) = delete;

  // 2 when the lock file is held (after waiting for it), else 1.
  int Acquire();
  // The shared area (view + 4001800) when the lock file can be held, else
  // nullptr. The first call removes a stale lock file first.
  uint8_t* Attach(int32_t size, uint8_t* view);

  uint8_t* Address() const { return address_; }
  int32_t Size() const { return size_; }

 private:
  uint8_t* address_ = nullptr;
  int32_t size_ = 0;
  std::unique_ptr<TSemaphore> semaphore_;
};

}  // namespace vostrel
