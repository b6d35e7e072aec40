// Physical memory as GlobalMemoryStatus reports it.
#pragma once
#include <cstdint>

namespace plat {

// Available physical memory in bytes, capped at 4294967295.
uint32_t AvailablePhysicalMemory();
// Tests: a fixed value in place of the real one (0 restores the real one).
void SetAvailablePhysicalMemoryForTest(uint32_t bytes);

}  // namespace plat
