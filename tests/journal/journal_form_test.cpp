// The journal's form rules: reading a field of a posted body, the journal's
// percent-decoding, and the cleaning of image names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/journal/JournalForm.h"

namespace vostrel {
namespace {

constexpr char kHead[] = "POST /JOURNAL_SAVE HTTP/1.1\r\nHost: x\r\n\r\n";

struct FieldCase {
  const char* what;
  std::string request;
  const char* name;
  int limit;
  int result;
  std::string value;
};

TEST(GetFormField, FollowsTheFormRules) {
  const std::string h = kHead;
  const FieldCase cases[] = {
      {"longer pair name matches", h + "ActionIDX=JOURNAL_SAVE", "ActionID", 256, kFieldFound, "JOURNAL_SAVE"},
      {"empty name absorbs the next pair", h + "=x&ActionID=JOURNAL_ADMIN", "ActionID", 256, kFieldMissing, ""},
      {"first of two pairs wins", h + "ActionID=JOURNAL_ADMIN&ActionID=JOURNAL_SAVE", "ActionID", 256,
       kFieldFound, "JOURNAL_ADMIN"},
      {"no CR LF CR LF, no body", "POST / HTTP/1.1\r\nHost: x\r\nActionID=JOURNAL_SAVE", "ActionID", 256,
       kFieldMissing, ""},
      {"value cut at its limit", h + "PAGE_NUMBER=123456", "PAGE_NUMBER", 5, kFieldFound, "12345"},
      {"body ending in CR LF", h + "a=1&PAGE_NUMBER=7\r\n", "PAGE_NUMBER", 5, kFieldFound, "7"},
      {"later pair", h + "UserName=Chief&Password=pw&PAGE_NUMBER=3", "Password", 24, kFieldFound, "pw"},
      {"empty value is found", h + "ActionID=&PAGE_NUMBER=3", "ActionID", 256, kFieldFound, ""},
      {"name inside another name", h + "XActionID=JOURNAL_SAVE", "ActionID", 256, kFieldMissing, ""},
      {"case-sensitive name", h + "actionid=JOURNAL_SAVE", "ActionID", 256, kFieldMissing, ""},
      {"value runs to the next ampersand", h + "UserName=Chief+X&Password=a%2Bb", "UserName", 24, kFieldFound,
       "Chief+X"},
      {"escapes stay as sent", h + "UserName=Chief&Password=a%2Bb", "Password", 24, kFieldFound, "a%2Bb"},
      {"request shorter than 4", "P=1", "P", 5, kFieldMissing, ""},
      {"missing field", h + "a=1&b=2", "PAGE_NUMBER", 5, kFieldMissing, ""},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string request = c.request;
    char out[kFieldBufferSize] = {};
    EXPECT_EQ(GetFormField(c.name, request.data(), out, c.limit), c.result);
    EXPECT_EQ(std::string(out), c.value);
  }
}

TEST(GetFormField, CutsLineEndsInTheRequestSoLaterSearchesEndThere) {
  std::string request = std::string(kHead) + "JOURNALPOST=ab\rcd&PAGE_NUMBER=3";
  char post[kJournalPostBufferSize] = {};
  EXPECT_EQ(GetFormField("JOURNALPOST", request.data(), post, kJournalPostLimit), kFieldFound);
  EXPECT_STREQ(post, "ab");
  EXPECT_EQ(std::strlen(request.c_str()), std::strlen(kHead) + std::strlen("JOURNALPOST=ab"));
  char page[kFieldBufferSize] = {};
  EXPECT_EQ(GetFormField("PAGE_NUMBER", request.data(), page, kPageNumberLimit), kFieldMissing);
  EXPECT_STREQ(page, "");
}

TEST(GetFormField, WritesNoTerminatorAndNothingPastTheLimit) {
  std::string request = std::string(kHead) + "TOP_GRAPHIC=abcdefghijklmnopqrstuvwxyz0123456789";
  char out[kFieldBufferSize];
  std::memset(out, '#', sizeof(out));
  out[kImageNameLimit] = '\0';
  EXPECT_EQ(GetFormField("TOP_GRAPHIC", request.data(), out, kImageNameLimit), kFieldFound);
  EXPECT_EQ(std::string(out), "abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(out[kImageNameLimit + 1], '#');
}

struct DecodeCase {
  const char* what;
  std::string in;
  std::string out;
};

TEST(DecodeFormText, WritesStoreCodesAndDropsWhatThePagesMustNotHold) {
  const DecodeCase cases[] = {
      {"plus, escaped plus, CR LF", "a+b%2Bc%0D%0Ad", "a b+c\x04\x03" "d"},
      {"%E9 dropped", "x%E9y", "xy"},
      {"%09 dropped", "x%09y", "xy"},
      {"%3C becomes a space", "x%3Cy", "x y"},
      {"%3E becomes a space", "x%3ey", "x y"},
      {"raw < becomes a space", "a<script>b", "a script b"},
      {"raw closing tag", "</TEXTAREA>", " /TEXTAREA "},
      {"%2 at the very end dropped", "ab%2", "ab"},
      {"% at the very end dropped", "ab%", "ab"},
      {"one hex digit at the end is read", "x%A", "x\x03"},
      {"quotes", "%22%27\"'", "\x05\x05\x05\x05"},
      {"grave accents", "%60`", "\x06\x06"},
      {"lowest kept byte", "%1D", "\x1d"},
      {"below it dropped", "%1C", ""},
      {"128 kept", "%80", "\x80"},
      {"129 dropped", "%81", ""},
      {"no hex digit gives 0, dropped", "x%G4y", "xy"},
      {"reading stops at a non-digit", "x%4Gy", "xy"},
      {"escaped ampersand", "a%26b", "a&b"},
      {"unescaped high byte stays", "\xe9t\xe9", "\xe9t\xe9"},
      {"empty", "", ""},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string buffer = c.in + std::string(16, '\0');
    DecodeFormText(buffer.data(), static_cast<int>(c.in.size()));
    EXPECT_EQ(std::string(buffer.c_str()), c.out);
    // The bytes behind the decoded text are zero for the whole old length.
    for (std::size_t i = c.out.size(); i < c.in.size(); ++i) EXPECT_EQ(buffer[i], '\0') << i;
  }
}

TEST(DecodeFormText, RewritesOnlySizeBytes) {
  char text[] = "a%41bXYZ";
  DecodeFormText(text, 5);  // "a%41b"
  EXPECT_EQ(std::string(text, 8), std::string("aAb\0\0XYZ", 8));
}

TEST(ReadLeadingInteger, SignAndDigitsOnly) {
  const struct {
    const char* in;
    int32_t out;
  } cases[] = {{"12abc", 12}, {"-3", -3}, {"+5", 5}, {"x", 0}, {"", 0}, {" 5", 0},
               {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1}, {"--1", 0}};
  for (const auto& c : cases) EXPECT_EQ(ReadLeadingInteger(c.in), c.out) << c.in;
}

TEST(CleanImageName, DropsWhatAWindowsFileNameCannotHold) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"My+Pic.png", "My+Pic.png"},
      {"50%25.png", "50%25.png"},
      {"a\"b<c>d|e*f?g:h/i\\j.png", "abcdefghij.png"},
      {"x\" onerror=\"alert(1)", "x onerror=alert(1)"},
      {"a\x01" "b\x1f" "c\x7f", "abc"},
      {"my pic.png", "my pic.png"},
      {"\"<>", ""},
  };
  for (const auto& c : cases) {
    char name[32] = {};
    std::strcpy(name, c.in);
    CleanImageName(name);
    EXPECT_STREQ(name, c.out) << c.in;
    for (std::size_t i = std::strlen(c.out); i < sizeof(name); ++i) EXPECT_EQ(name[i], '\0');
  }
}

}  // namespace
}  // namespace vostrel
