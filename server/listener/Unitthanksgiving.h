// TThanksGiving: turns the server's encoded fixed texts (13-character decimal
// groups, one per character) back into text.
#pragma once

namespace vostrel {

constexpr int kDecodedTextSize = 4096;  // the caller's output buffer, at least
constexpr int kEncodedGroupSize = 13;

class TThanksGiving {
 public:
  TThanksGiving() = default;

  // out (kDecodedTextSize bytes or more) receives CR, LF and the decoded
  // characters, zero-terminated. A group that is not a number ends the text.
  void Decode(const char* text, char* out);
};

}  // namespace vostrel
