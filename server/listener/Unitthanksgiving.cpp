// The banner decoder: each group is read as a number x and stands for the
// character trunc((180 atan x + 0.1) / 3.14).
#include "server/listener/Unitthanksgiving.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vostrel {

namespace {

constexpr long double kInverseAngleStep = 1.0L / 3.14L;
constexpr int kFirstPrintable = 32;

// StrToFloat with '.' as the decimal point: the whole group must be a number.
bool ReadGroup(const char* first, const char* last, long double* value) {
  auto [end, error] = std::from_chars(first, last, *value, std::chars_format::general);
  return error == std::errc() && end == last && !std::isnan(*value);
}

}  // namespace

void TThanksGiving::Decode(const char* text, char* out) {
  std::memset(out, 0, kDecodedTextSize);
  out[0] = '\r';
  out[1] = '\n';
  int used = 2;
  try {
    const std::size_t n = std::strlen(text);
    // Groups start at 1-based positions 1, 14, 27, ... while below n, so a
    // trailing one-character group is never read.
    for (std::size_t p = 1; p < n; p += kEncodedGroupSize) {
      const char* first = text + (p - 1);
      const std::size_t count = std::min<std::size_t>(kEncodedGroupSize, n - (p - 1));
      long double x = 0;
      if (!ReadGroup(first, first + count, &x)) break;
      const long double a = std::atan(x);
      const long double v = (180.0L * a + 0.1L) * kInverseAngleStep;
      // atan keeps v within about +-90, so the conversion is defined.
      const auto c = static_cast<int8_t>(static_cast<int64_t>(v) & 0xFF);
      if (c >= kFirstPrintable && used < kDecodedTextSize - 1) out[used++] = static_cast<char>(c);
    }
  } catch (...) {
    // out keeps what was decoded before the failure
  }
}

}  // namespace vostrel
