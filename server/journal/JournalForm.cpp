// Form fields of a posted journal request and the journal's percent-decoding.
#include "server/journal/JournalForm.h"

#include <cstddef>
#include <cstring>
#include <limits>

namespace vostrel {
namespace {

constexpr char kBodySeparator[] = "\r\n\r\n";
constexpr int kShortestRequest = 4;
// Escaped numbers outside this range are dropped; inside it they are bytes.
constexpr int kLowestKeptByte = 29;
constexpr int kHighestKeptByte = 128;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte an escaped number stands for; false when it is dropped.
bool DecodedByte(int number, char* out) {
  switch (number) {
    case '\n': *out = kCodeLineFeed; return true;
    case '\r': *out = kCodeCarriageReturn; return true;
    case '"':
    case '\'': *out = kCodeQuote; return true;
    case '`': *out = kCodeGrave; return true;
    case '<':
    case '>': *out = ' '; return true;
    default:
      if (number >= kLowestKeptByte && number <= kHighestKeptByte) {
        *out = static_cast<char>(number);
        return true;
      }
      return false;
  }
}

char PlainByte(char c) {
  switch (c) {
    case '+': return ' ';
    case '"':
    case '\'': return kCodeQuote;
    case '`': return kCodeGrave;
    // Unescaped angle brackets would let hand-made markup reach the pages.
    case '<':
    case '>': return ' ';
    default: return c;
  }
}

}  // namespace

int GetFormField(const char* name, char* request, char* out, int limit) {
  if (name == nullptr || request == nullptr || out == nullptr) return kFieldMissing;
  if (std::strlen(request) < static_cast<std::size_t>(kShortestRequest)) return kFieldMissing;
  char* separator = std::strstr(request, kBodySeparator);
  if (separator == nullptr) return kFieldMissing;

  const std::size_t nameLength = std::strlen(name);
  char* pairStart = separator + std::strlen(kBodySeparator);
  char* scan = pairStart;
  for (;;) {
    char* equals = std::strchr(scan, '=');
    if (equals == nullptr) return kFieldMissing;
    if (equals == pairStart) {
      // An empty name: this pair is read together with the next one.
      scan = equals + 1;
      continue;
    }
    if (std::strncmp(pairStart, name, nameLength) == 0) {
      char* value = equals + 1;
      char* end = std::strchr(value, '&');
      if (end == nullptr) end = value + std::strlen(value);
      if (end == value) return kFieldFound;
      for (char* c = value; c < end; ++c) {
        if (*c == '\r' || *c == '\n') *c = '\0';
      }
      std::size_t length = 0;
      while (value + length < end && value[length] != '\0') ++length;
      if (limit < 0) limit = 0;
      if (length > static_cast<std::size_t>(limit)) length = static_cast<std::size_t>(limit);
      std::memcpy(out, value, length);
      return kFieldFound;
    }
    char* ampersand = std::strchr(equals + 1, '&');
    if (ampersand == nullptr) return kFieldMissing;
    pairStart = ampersand + 1;
    scan = pairStart;
  }
}

void DecodeFormText(char* text, int size) {
  if (text == nullptr || size <= 0) return;
  // Every input character gives at most one output character, so the text
  // is decoded in place behind the read position.
  int read = 0;
  int write = 0;
  while (read < size && text[read] != '\0') {
    const char c = text[read];
    if (c != '%') {
      text[write++] = PlainByte(c);
      ++read;
      continue;
    }
    int number = 0;
    int taken = 0;
    bool inDigits = true;
    while (taken < 2 && read + 1 + taken < size && text[read + 1 + taken] != '\0') {
      const int digit = HexValue(text[read + 1 + taken]);
      if (digit < 0) inDigits = false;
      if (inDigits) number = number * 16 + digit;
      ++taken;
    }
    char decoded = 0;
    if (DecodedByte(number, &decoded)) text[write++] = decoded;
    read += 1 + taken;
    if (taken < 2) break;  // the text ended inside the escape
  }
  std::memset(text + write, 0, static_cast<std::size_t>(size - write));
}

bool IsForbiddenNameChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x20 || u == 0x7f) return true;
  return std::strchr("\"<>|*?:/\\", c) != nullptr;
}

void CleanImageName(char* name) {
  if (name == nullptr) return;
  char* const end = name + std::strlen(name);
  char* write = name;
  for (char* read = name; read < end; ++read) {
    if (!IsForbiddenNameChar(*read)) *write++ = *read;
  }
  while (write < end) *write++ = '\0';
}

int32_t ReadLeadingInteger(const char* text) {
  if (text == nullptr) return 0;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > -kMin) value = -kMin;  // saturate; keeps the loop in range
  }
  if (negative) value = -value;
  if (value > kMax) value = kMax;
  if (value < kMin) value = kMin;
  return static_cast<int32_t>(value);
}

}  // namespace vostrel
