// The store's lock file "E:\quillbook\TAsDBc.lf": held open for the run; whether
// it can be held decides whether the shared area is used.
#pragma once

#include "platform/files/files.h"

namespace vostrel {

inline constexpr char LockFilePath[] = "E:\\quillbook\\TAsDBc.lf";

class TSemaphore {
 public:
  // Acquire modes and results.
  static constexpr int ModeWait = 1;
  static constexpr int Acquired = 2;
  static constexpr int NotAcquired = 1;
  static constexpr int NotAcquiredAfterWaiting = 3;
  static constexpr int StoreRetryLimit = 320;

  TSemaphore() = default;
  // The lock stream is closed with the object, which lives as long as the
  // store object (for the server: until the service stops).
  ~TSemaphore() = default;
  TSemaphore(const TSemaphore&) = delete;
  TSemaphore& operator=(const TSemaphore&) = delete;

  // Deletes the lock file; a missing one is no error.
  void RemoveLockFile();
  // Opens the lock file for appending (creating it). Mode 1 retries every
  // millisecond until more than retryLimit attempts have failed.
  int Acquire(int mode, int retryLimit);
  bool IsHeld() const { return stream_.IsOpen(); }

 private:
  plat::File stream_;
};

}  // namespace vostrel
