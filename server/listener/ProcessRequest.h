// The request worker: serves one accepted connection on a thread of its own.
#pragma once
#include <cstdint>

#include "platform/sockets/sockets.h"

namespace vostrel {

constexpr char kNoDataText[] = "No data available";
constexpr int kNoDataLength = 17;
constexpr uint32_t kPeekTimeoutMs = 10000;  // a silent client is given up after this
constexpr uint32_t kPostBodyWaitMs = 2000;  // longest wait for the rest of a POST body

// Thread procedure; arg is the address of the connection's SocketRing entry
// (an int32 socket value). Ends with exit code 0.
uint32_t ProcessRequest(void* socketEntry);

// The worker's read: peeks (giving up after peekTimeoutMs), then reads once
// into buffer, which must hold kRequestBufferSize + 1 zeroed bytes so the
// request is always NUL-terminated. A POST whose header block arrived whole
// but whose announced body did not is read on until the body is complete,
// the buffer is full or kPostBodyWaitMs pass. Returns the bytes in buffer,
// or a value <= 0 when the peek found nothing (the caller then sends
// kNoDataText).
int ReadRequest(plat::net::Socket s, char* buffer, uint32_t peekTimeoutMs = kPeekTimeoutMs);

}  // namespace vostrel
