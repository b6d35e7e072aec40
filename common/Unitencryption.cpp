// Restores a scrambled 256-byte text in place.
#include "common/Unitencryption.h"

namespace vostrel {

void RestoreText(char* text) {
  if (text == nullptr) return;
  for (int i = 1; i < kScrambledTextSize; ++i) {
    text[i] = static_cast<char>(static_cast<unsigned char>(text[i]) - kScrambleShift);
  }
}

}  // namespace vostrel
