// The speed table of the engine (bit rate, Class 1 modulation code, Class 2
// bit-rate digit) and the minimum bytes per coded line that the scan time of
// the remote machine demands.
#pragma once

#include <string>

namespace tv {

constexpr int kFaxSpeedCount = 6;

struct FaxSpeed {
  int bitRate;
  const char* modulation;  // Class 1 AT+FTM / AT+FRM code
  char class2Digit;        // Class 2 / 2.0 bit-rate digit
};

// Entry 1..6 of the speed table (2400 .. 14400); other indexes give entry 1.
const FaxSpeed& FaxSpeedEntry(int index);

// The Class 2 bit-rate digit of a bit rate; a rate not in the table gives '3'.
char Class2BitRateDigit(int bitRate);

// The speed index (1..6) of a bit rate, 0 when the rate is not in the table.
int FaxSpeedIndexOf(int bitRate);

// The Class 1 code for page data after a successful training check: V.17
// trains long for TCF (145, 121, 97, 73) and short for the page that follows
// (146, 122, 98, 74); V.29 and V.27 ter codes have no short form and stay.
std::string PageDataModulation(const std::string& trainingCode);

// Minimum scan time in milliseconds for scan-time code 0..7 at normal or
// fine resolution; codes outside 0..7 give 0.
int MinimumScanMs(int scanCode, bool fine);

// (milliseconds x bit rate) / 8000.
int MinimumBytesPerLine(int scanCode, bool fine, int bitRate);

}  // namespace tv
