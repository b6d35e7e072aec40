// The web server's body: start-up, the accept loop and shutdown, run on its own
// thread by the service entry.
#pragma once

#include <cstdint>

namespace vostrel {

// Runs until the service is told to stop (or start-up fails); the argument is unused.
uint32_t webmain(void* param);

}  // namespace vostrel
