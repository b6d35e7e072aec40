// Bounded text appending for the response builders.
#include "server/http/TextBuffer.h"

#include <cstring>

namespace vostrel {

size_t TextLength(const char* buffer, int64_t room) {
  if (buffer == nullptr) return 0;
  if (room < 0) return std::strlen(buffer);
  const void* end = std::memchr(buffer, 0, static_cast<size_t>(room));
  return end == nullptr ? static_cast<size_t>(room) : static_cast<const char*>(end) - buffer;
}

bool AppendText(char* buffer, int64_t room, const char* text) {
  if (buffer == nullptr || text == nullptr) return false;
  size_t used = TextLength(buffer, room);
  size_t add = std::strlen(text);
  if (room >= 0 && used + add + 1 > static_cast<size_t>(room)) return false;
  std::memcpy(buffer + used, text, add + 1);
  return true;
}

void CopyText(char* out, size_t outSize, const char* text) {
  if (out == nullptr || outSize == 0) return;
  std::memset(out, 0, outSize);
  if (text == nullptr) return;
  size_t n = strnlen(text, outSize - 1);
  std::memcpy(out, text, n);
}

}  // namespace vostrel
