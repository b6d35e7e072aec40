// The shared area of the store, attached when the lock file can be held.
#include "server/store/TSharedMemory.h"

#include "server/store/StoreFormat.h"

namespace vostrel {

int TSharedMemory::Acquire() {
  if (!semaphore_) semaphore_ = std::make_unique<TSemaphore>();
  return semaphore_->Acquire(TSemaphore::ModeWait, TSemaphore::StoreRetryLimit) ==
                 TSemaphore::Acquired
             ? TSemaphore::Acquired
             : TSemaphore::NotAcquired;
}

uint8_t* TSharedMemory::Attach(int32_t size, uint8_t* view) {
  if (!semaphore_) {
    semaphore_ = std::make_unique<TSemaphore>();
    semaphore_->RemoveLockFile();
  }
  if (view != nullptr && Acquire() == TSemaphore::Acquired) {
    size_ = size;
    address_ = view + SharedAreaOffset;
  } else {
    address_ = nullptr;
  }
  return address_;
}

}  // namespace vostrel
