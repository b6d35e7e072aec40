// What the journal pages share: the page record layout, the colour and skin
// tables, the style and script blocks, and the text turned back for display.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

#include "server/store/TAsDB.h"

namespace vostrel {

static_assert(std::endian::native == std::endian::little, "the record is little-endian");

constexpr int kJournalIndexNumber = 1;  // every journal page lives in index 1
constexpr int kImageNameSize = 24;
constexpr int kJournalTextSize = 10000;
constexpr int kFontColorCount = 9;
constexpr int kSkinCount = 3;
constexpr int kSkinNone = 0;
constexpr int kSkinShadowball = 1;
constexpr int kSkinGroovy = 2;
constexpr int kFirstPage = 1;
constexpr int kDefaultColumns = 2;

// One journal page as the store keeps it (a TAsDBRecord of index 1).
struct JournalPageRecord {
  int32_t Next;  // owned by the store
  int32_t Key;   // the page number
  int32_t IndexNumber;
  int32_t Unused12;
  int32_t Unused16;
  int32_t Columns;
  int32_t SkinIndex;
  int32_t FontColorIndex;
  char Unused32[24];
  char TopGraphic[kImageNameSize];  // names: zero-padded, not always terminated
  char BackgroundGraphic[kImageNameSize];
  char LeftGraphic1[kImageNameSize];
  char LeftGraphic2[kImageNameSize];
  char LeftGraphic3[kImageNameSize];
  char Unused176[80];
  char JournalText[kJournalTextSize];  // store codes; may fill the field
};
static_assert(sizeof(JournalPageRecord) == RecordSize);
static_assert(offsetof(JournalPageRecord, Next) == 0);
static_assert(offsetof(JournalPageRecord, Key) == 4);
static_assert(offsetof(JournalPageRecord, IndexNumber) == 8);
static_assert(offsetof(JournalPageRecord, Unused12) == 12);
static_assert(offsetof(JournalPageRecord, Unused16) == 16);
static_assert(offsetof(JournalPageRecord, Columns) == 20);
static_assert(offsetof(JournalPageRecord, SkinIndex) == 24);
static_assert(offsetof(JournalPageRecord, FontColorIndex) == 28);
static_assert(offsetof(JournalPageRecord, Unused32) == 32);
static_assert(offsetof(JournalPageRecord, TopGraphic) == 56);
static_assert(offsetof(JournalPageRecord, BackgroundGraphic) == 80);
static_assert(offsetof(JournalPageRecord, LeftGraphic1) == 104);
static_assert(offsetof(JournalPageRecord, LeftGraphic2) == 128);
static_assert(offsetof(JournalPageRecord, LeftGraphic3) == 152);
static_assert(offsetof(JournalPageRecord, Unused176) == 176);
static_assert(offsetof(JournalPageRecord, JournalText) == 256);
static_assert(offsetof(JournalPageRecord, Next) == offsetof(TAsDBRecord, Next));
static_assert(offsetof(JournalPageRecord, Key) == offsetof(TAsDBRecord, Key));
static_assert(offsetof(JournalPageRecord, IndexNumber) == offsetof(TAsDBRecord, IndexNumber));

extern const char* const FontColors[kFontColorCount];
extern const char* const SkinNames[kSkinCount];
extern const char JournalStyle[];
extern const char JournalScript[];

// Turns the store codes of a zero-terminated text back in place for the page
// (3 LF, 4 CR, 5 apostrophe, 6 quotation mark).
void RestoreJournalText(char* text);
// Replaces [B] [/B] [I] [/I] by their HTML tags in place.
void ApplyTextMarkup(char* text);

// The fixed line of the page's left column, restored from its scrambled form
// into `out` (a 256-byte buffer).
void GetLeftColumnText(char* out);

}  // namespace vostrel
