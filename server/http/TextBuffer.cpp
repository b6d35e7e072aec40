// Bounded text appending for the response builders.
#include "server/http/TextBuffer.h"

#include <cstring>

namespace vostrel {

size_t BoundedLength(const char* text, size_t most) {
  size_t n = 0;
  while (n < most && text[n] != '\0') ++n;
  return n;
}

size_t TextLength(const char* buffer, int64_t room) {
  if (buffer == nullptr) return 0;
  if (room < 0) return std::strlen(buffer);
  return BoundedLength(buffer, static_cast<size_t>(room));
}

bool AppendText(char* buffer, int64_t room, const char* text) {
  if (buffer == nullptr || text == nullptr) return false;
  size_t used = TextLength(buffer, room);
  size_t add = std::strlen(text);
  if (room >= 0 && used + add + 1 > static_cast<size_t>(room)) return false;
  std::memcpy(buffer + used, text, add + 1);
  return true;
}

TextAppender& TextAppender::Add(const char* text) {
  if (!ok_ || buffer_ == nullptr || text == nullptr) {
    ok_ = false;
    return *this;
  }
  const size_t add = std::strlen(text);
  if (room_ >= 0 && used_ + add + 1 > static_cast<size_t>(room_)) {
    ok_ = false;
    return *this;
  }
  std::memcpy(buffer_ + used_, text, add + 1);
  used_ += add;
  return *this;
}

void CopyText(char* out, size_t outSize, const char* text) {
  if (out == nullptr || outSize == 0) return;
  std::memset(out, 0, outSize);
  if (text == nullptr) return;
  std::memcpy(out, text, BoundedLength(text, outSize - 1));
}

}  // namespace vostrel
