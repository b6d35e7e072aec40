// The journal's form handling: reading one field of a posted form, the
// journal's own percent-decoding, and the store codes it writes.
#pragma once
#include <cstdint>

namespace vostrel {

// Most bytes taken of each form value (the rest is dropped).
constexpr int kActionIdLimit = 256;
constexpr int kUserNameLimit = 24;
constexpr int kPasswordLimit = 24;
constexpr int kPageNumberLimit = 5;
constexpr int kColumnsLimit = 5;
constexpr int kImageNameLimit = 24;
constexpr int kFontColorLimit = 10;
constexpr int kSkinNameLimit = 10;
constexpr int kJournalPostLimit = 5500;

// Value buffers: zeroed, with room for a terminator after the limit.
constexpr int kFieldBufferSize = 256 + 1;
constexpr int kJournalPostBufferSize = 10000 + 1;

// GetFormField results.
constexpr int kFieldFound = 0;
constexpr int kFieldMissing = 999;

// Store codes: the page text keeps these in place of five characters, so it
// can stand inside single-quoted script strings.
constexpr char kCodeLineFeed = 3;
constexpr char kCodeCarriageReturn = 4;
constexpr char kCodeQuote = 5;  // quotation mark or apostrophe
constexpr char kCodeGrave = 6;

// Copies the value of the first pair of the request body whose name begins
// with `name` into `out` (zeroed by the caller, at most `limit` bytes, no
// terminator written). CR and LF inside that value are cut to zero bytes in
// the request itself. Returns kFieldFound or kFieldMissing.
int GetFormField(const char* name, char* request, char* out, int limit);

// Percent-decodes `text` in place and writes the store codes; `size` bytes of
// text may be rewritten (its length). The result is never longer.
void DecodeFormText(char* text, int size);

// Characters a Windows file name cannot hold: '"' '<' '>' '|' '*' '?' ':'
// '/' '\\' and the control characters.
bool IsForbiddenNameChar(char c);
// Drops those characters from a zero-terminated image name, in place.
void CleanImageName(char* name);

// The decimal integer at the start of `text`: an optional sign and digits,
// up to the first other character; no digits give 0. Saturates at the
// limits of a 32-bit integer.
int32_t ReadLeadingInteger(const char* text);

}  // namespace vostrel
