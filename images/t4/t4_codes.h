// The ITU-T T.4 one-dimensional (modified Huffman) code tables, in the
// standard's notation (value with its most significant bit first, and its
// length), and the same codes mirrored for packing least significant bit
// first, as APF page data and fax modems carry them.
#pragma once

#include <cstdint>

namespace tv::t4 {

struct T4Code {
  uint16_t value;  // most significant bit first
  uint8_t length;  // bits
};

// 64 terminating codes (runs 0..63) per colour.
extern const T4Code kWhiteTerminating[64];
extern const T4Code kBlackTerminating[64];
// 40 make-up codes per colour: entry i stands for the run 64 * (i + 1);
// entries 27..39 (runs 1792..2560) are shared by both colours.
extern const T4Code kWhiteMakeUp[40];
extern const T4Code kBlackMakeUp[40];
// EOL: eleven 0 bits and a 1 bit.
constexpr T4Code kEol{0x0001, 12};

// The longest run one make-up code covers.
constexpr int kMaxMakeUpRun = 2560;

// A code laid down least significant bit first: OR-ing `bits << bitPos`
// into the output writes the code's first bit at bitPos.
struct PackedCode {
  uint16_t bits;
  uint8_t length;
};

// Mirrored tables, built once on first use (thread-safe).
struct PackedTables {
  PackedCode terminating[2][64];  // [0] white, [1] black
  PackedCode makeUp[2][40];
};
const PackedTables& Packed();

// Bit i of an n-bit value moved to bit n-1-i.
uint16_t MirrorBits(uint16_t value, int length);

}  // namespace tv::t4
