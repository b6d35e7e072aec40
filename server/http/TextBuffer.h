// Bounded appending to the NUL-terminated texts that responses are built of,
// so that no builder writes past the buffer it was given.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vostrel {

// Length of the text in buffer, looking at no more than room bytes (room < 0:
// size unknown, the text is trusted to be terminated).
size_t TextLength(const char* buffer, int64_t room);

// Appends text after the text already in buffer. room is the buffer's size
// from buffer on (see TPageProcessor::RoomOf); the terminator must fit too.
// Returns false, and appends nothing, when it does not.
bool AppendText(char* buffer, int64_t room, const char* text);

// Copies text into a zero-filled out of outSize bytes, cut to fit.
void CopyText(char* out, size_t outSize, const char* text);

}  // namespace vostrel
