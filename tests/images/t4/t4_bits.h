// Builds T.4 bit streams code by code for decoder tests (least significant
// bit first, as in APF page data).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "images/t4/t4_codes.h"

namespace tv::testbits {

class BitStream {
 public:
  // Bits in the standard's notation, e.g. "000000000001".
  BitStream& Bits(const std::string& s) {
    for (char c : s) Bit(c == '1');
    return *this;
  }
  BitStream& Bit(bool one) {
    if (nbits_ % 8 == 0) bytes_.push_back(0);
    if (one) bytes_.back() |= static_cast<uint8_t>(1u << (nbits_ % 8));
    ++nbits_;
    return *this;
  }
  BitStream& Code(const t4::T4Code& c) {
    for (int i = c.length - 1; i >= 0; --i) Bit((c.value >> i) & 1);
    return *this;
  }
  BitStream& Eol() { return Code(t4::kEol); }
  // A run coded as make-up codes plus a terminating code.
  BitStream& Run(bool black, int n) {
    const t4::T4Code* term = black ? t4::kBlackTerminating : t4::kWhiteTerminating;
    const t4::T4Code* makeUp = black ? t4::kBlackMakeUp : t4::kWhiteMakeUp;
    while (n > 2560) {
      Code(makeUp[39]);
      n -= 2560;
    }
    if (n >= 64) Code(makeUp[n / 64 - 1]);
    return Code(term[n % 64]);
  }
  // A line of alternating runs, starting white.
  BitStream& Line(const std::vector<int>& runs) {
    Eol();
    bool black = false;
    for (int r : runs) {
      Run(black, r);
      black = !black;
    }
    return *this;
  }
  BitStream& Rtc() {
    for (int i = 0; i < 6; ++i) Eol();
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int nbits_ = 0;
};

}  // namespace tv::testbits
