// The request worker: serves one accepted connection on a thread of its own.
#pragma once
#include <cstdint>

namespace vostrel {

// Thread procedure; arg is the address of the connection's SocketRing entry
// (an int32 socket value). Ends with exit code 0.
uint32_t ProcessRequest(void* socketEntry);

}  // namespace vostrel
