// Fault injection for tests: make the Nth call of a platform operation fail,
// so failure paths are exercised for real rather than by reading the code.
#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

enum class FaultPoint : int {
  FileOpen,      // File::Open
  FileRead,      // File::Read / File::GetLine
  FileWrite,     // File::Write
  Allocation,    // AllocateBuffer (system code's large buffers)
  Send,          // net::Send
  MapFile,       // MappedFile::Map
  Count_
};

// Arms a fault: the nth call (1-based) from now of that point fails, and
// with `repeat` every later call fails too. n = 0 disarms.
void FailNth(FaultPoint point, uint32_t n, bool repeat = false);
void ClearFaults();
// Called by platform code at each fault point; true means "fail this call".
bool ShouldFail(FaultPoint point);

// Allocation that the fault hook can refuse; returns nullptr on failure
// (never throws). Free with FreeBuffer.
char* AllocateBuffer(std::size_t bytes);
void FreeBuffer(char* p);

}  // namespace plat
