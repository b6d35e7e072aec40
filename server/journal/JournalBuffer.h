// Appending to the journal's output buffers without ever writing past them.
#pragma once
#include <cstddef>
#include <cstring>

#include "server/http/TextBuffer.h"
#include "server/http/Tpageprocessor.h"

namespace vostrel {

// Appends at the end of the zero-terminated text of a buffer of `capacity`
// bytes, always keeping one zero byte after the text. A text that does not
// fit is not appended at all, and the writer remembers that it overflowed.
class TJournalWriter {
 public:
  TJournalWriter(char* buffer, std::size_t capacity)
      : buffer_(buffer), capacity_(capacity), length_(0), overflowed_(false) {
    if (buffer_ == nullptr) capacity_ = 0;
    while (length_ + 1 < capacity_ && buffer_[length_] != '\0') ++length_;
  }

  bool Append(const char* text) { return text == nullptr || Append(text, std::strlen(text)); }
  bool Append(const char* text, std::size_t n) {
    if (n == 0) return true;
    if (!Fits(n)) {
      overflowed_ = true;
      return false;
    }
    std::memcpy(buffer_ + length_, text, n);
    length_ += n;
    buffer_[length_] = '\0';
    return true;
  }
  bool Fits(std::size_t n) const { return capacity_ > 0 && length_ + n < capacity_; }
  std::size_t Length() const { return length_; }
  std::size_t Capacity() const { return capacity_; }
  bool Overflowed() const { return overflowed_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_;
  bool overflowed_;
};

// How many bytes a journal operation may use of a buffer it was handed: the
// journal area of Response, the whole of Content, and for any other buffer
// the construction size that every processor buffer has at least.
inline std::size_t JournalCapacity(const TPageProcessor& p, const char* buffer) {
  if (buffer != nullptr && buffer == p.Response) {
    std::size_t size = p.ResponseSize > 0 ? static_cast<std::size_t>(p.ResponseSize) : 0;
    return size < static_cast<std::size_t>(kJournalArea) ? size : static_cast<std::size_t>(kJournalArea);
  }
  if (buffer != nullptr && buffer == p.Content) {
    return p.ContentSize > 0 ? static_cast<std::size_t>(p.ContentSize) : 0;
  }
  return static_cast<std::size_t>(kProcessorSize);
}

}  // namespace vostrel
