// Texts that a program keeps scrambled in its image are turned back here.
#pragma once

namespace vostrel {

constexpr int kScrambledTextSize = 256;
constexpr unsigned char kScrambleShift = 50;

// Every byte at index 1 to 255 of the 256-byte buffer is decreased by 50
// (modulo 256); the byte at index 0 is left as stored.
void RestoreText(char* text);

}  // namespace vostrel
