// TThanksGiving::Decode: the banner texts round-trip, the interval edges hold
// in extended precision, and bad or odd groups end or skip as they should.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "server/listener/Startup.h"
#include "server/listener/Unitthanksgiving.h"

namespace {

using vostrel::kDecodedTextSize;
using vostrel::TThanksGiving;

std::string Decoded(const std::string& text) {
  std::vector<char> out(kDecodedTextSize, 'x');
  TThanksGiving().Decode(text.c_str(), out.data());
  return std::string(out.data());
}

// One 13-character group for the number.
std::string Group(long double x) {
  char buf[64];
  int whole = std::snprintf(buf, sizeof buf, "%.0Lf", std::floor(std::fabs(x)));
  if (x < 0) whole += 1;
  std::snprintf(buf, sizeof buf, "%.*Lf", 13 - whole - 1, x);
  return std::string(buf).substr(0, 13);
}

long double LowEdge(int c) { return std::tan((3.14L * c - 0.1L) / 180.0L); }

TEST(DecoderTest, BannerLinesDecodeToTheirTexts) {
  EXPECT_EQ(std::string(vostrel::kBannerFirstEncoded).size(), 143u);
  EXPECT_EQ(std::string(vostrel::kBannerSecondEncoded).size(), 624u);
  EXPECT_EQ(Decoded(vostrel::kBannerFirstEncoded), "\r\nVOSTREL WEB");
  EXPECT_EQ(Decoded(vostrel::kBannerSecondEncoded),
            "\r\nTHANKS TO EVERYONE WHO HELPED BUILD THIS SERVER.");
}

TEST(DecoderTest, OutputIsZeroFilledAfterTheText) {
  std::vector<char> out(kDecodedTextSize, 'x');
  TThanksGiving().Decode(vostrel::kBannerFirstEncoded, out.data());
  for (int i = 13; i < kDecodedTextSize; ++i) ASSERT_EQ(out[i], '\0') << i;
}

// Just above each character's lower edge gives the character, just below it
// the one before: the arithmetic must not drift by one anywhere in 32..90.
TEST(DecoderTest, IntervalEdgesOfEveryPrintableCode) {
  for (int c = 33; c <= 90; ++c) {
    const long double edge = LowEdge(c);
    EXPECT_EQ(Decoded(Group(edge * (1 + 1e-9L))), "\r\n" + std::string(1, char(c))) << c;
    EXPECT_EQ(Decoded(Group(edge * (1 - 1e-9L))), "\r\n" + std::string(1, char(c - 1))) << c;
  }
}

TEST(DecoderTest, EdgeCases) {
  const std::string a = Group((LowEdge('A') + LowEdge('B')) / 2);
  const std::string b = Group((LowEdge('B') + LowEdge('C')) / 2);
  struct Case {
    const char* what;
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"empty text", "", ""},
      {"one character", "7", ""},
      {"zero is code 0, skipped", "0.00000000000" + a, "A"},
      {"negative number skipped", "-2.1886789607" + a, "A"},
      {"control character skipped", Group(LowEdge(10) * 1.0001L) + a, "A"},
      {"letters end the decoding", a + b + "ABCDEFGHIJKLM" + a, "AB"},
      {"a group that is only partly a number ends it", a + "2.188678960Q7" + b, "A"},
      // The 14th character would decode (7 is a 'Q') if it were read.
      {"fourteen characters: one group", a + "7", "A"},
      {"a shorter last group is read", a + b.substr(0, 5), "AB"},
  };
  for (const Case& c : cases) EXPECT_EQ(Decoded(c.text), "\r\n" + c.expected) << c.what;
}

TEST(DecoderTest, LongTextStopsAtTheBufferEnd) {
  const std::string a = Group((LowEdge('A') + LowEdge('B')) / 2);
  std::string text;
  for (int i = 0; i < kDecodedTextSize + 10; ++i) text += a;
  const std::string out = Decoded(text);
  EXPECT_EQ(out.size(), static_cast<size_t>(kDecodedTextSize - 1));
}

}  // namespace
