// The store's lock file: removed once, then held open for appending.
#include "server/store/TSemaphore.h"

#include "platform/threads/threads.h"

namespace vostrel {

namespace {
constexpr unsigned RetryWaitMs = 1;
}

void TSemaphore::RemoveLockFile() { plat::DeleteFile(LockFilePath); }

int TSemaphore::Acquire(int mode, int retryLimit) {
  for (int attempt = 0;; ++attempt) {
    plat::File stream = plat::File::Open(LockFilePath, "ab");
    if (stream.IsOpen()) {
      stream_ = std::move(stream);
      return Acquired;
    }
    if (mode != ModeWait) return NotAcquired;
    if (attempt > retryLimit) return NotAcquiredAfterWaiting;
    plat::Sleep(RetryWaitMs);
  }
}

}  // namespace vostrel
