// Bounded appending to the NUL-terminated texts that responses are built of,
// so that no builder writes past the buffer it was given.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vostrel {

// Length of a text that may fill its field without a terminator.
size_t BoundedLength(const char* text, size_t most);

// Length of the text in buffer, looking at no more than room bytes (room < 0:
// size unknown, the text is trusted to be terminated).
size_t TextLength(const char* buffer, int64_t room);

// Appends text after the text already in buffer. room is the buffer's size
// from buffer on (see TPageProcessor::RoomOf); the terminator must fit too.
// Returns false, and appends nothing, when it does not.
bool AppendText(char* buffer, int64_t room, const char* text);

// Appends several texts in a row without rescanning the buffer each time;
// ok turns false (and stays) at the first text that does not fit.
class TextAppender {
 public:
  TextAppender(char* buffer, int64_t room)
      : buffer_(buffer), room_(room), used_(TextLength(buffer, room)) {}
  TextAppender& Add(const char* text);
  bool ok() const { return ok_; }
  size_t used() const { return used_; }

 private:
  char* buffer_;
  int64_t room_;
  size_t used_;
  bool ok_ = true;
};

// Copies text into a zero-filled out of outSize bytes, cut to fit.
void CopyText(char* out, size_t outSize, const char* text);

}  // namespace vostrel
