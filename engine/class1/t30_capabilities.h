// The capability octets of DIS and DCS, the speed choice, the speed fallback
// and the training check of Class 1.
//
// The rate bits are ITU-T T.30's bits 11..14 (0x04, 0x08, 0x10, 0x20 of the
// second information octet): DIS 0x08 V.27 ter, 0x0C V.27 ter and V.29,
// 0x2C V.27 ter, V.29 and V.17; DCS 0x00 2400, 0x08 4800, 0x0C 7200 V.29,
// 0x04 9600 V.29, 0x28 12000 V.17, 0x20 14400 V.17 (0x24 and 0x2C are V.17
// at 9600 and 7200, which a remote may choose while it falls back).
#pragma once

#include <cstdint>
#include <vector>

namespace tv {

struct FaxModemData;

uint8_t DisRateBits(int speedIndex);
uint8_t DcsRateBits(int speedIndex);

// DIS information field for the highest local speed index.
std::vector<uint8_t> DisInfo(int speedIndex);

// DCS information field for a speed, the page's resolution and width and
// the remote's scan-time code.
std::vector<uint8_t> DcsInfo(int speedIndex, bool fine, bool wide, int scanCode);

// Scan-time code 0..7 from bits 21..23 of a DIS / DCS (byte B & 0x70).
int ScanCodeFromBits(uint8_t b);

// Sender: takes the remote's DIS octets A and B. Sets the remote speed
// flags, remote fine / wide, resolution and width in use (from the page),
// chooses the speed (highest common index within DesiredBPS), its
// modulation code and the minimum bytes per line.
void DecodeDis(FaxModemData& modem, uint8_t a, uint8_t b);

// Receiver: takes the remote's DCS octets A and B: speed, modulation code,
// resolution and width in use, scan time, minimum bytes per line.
void DecodeDcs(FaxModemData& modem, uint8_t a, uint8_t b);

// Sets the speed index with its bit rate and modulation code and
// recomputes the minimum bytes per line.
void SelectSpeed(FaxModemData& modem, int speedIndex);

// Steps down to the next lower index that both sides have; false when none
// is left.
bool StepSpeedDown(FaxModemData& modem);

// Zero octets of the sender's training check: (bit rate / 100) x 18, at
// most 8192.
int TrainingLength(int bitRate);

// The receiver's verdict: good when (non-zero x 100) / total is below 10.
bool TrainingGood(long total, long nonZero);

}  // namespace tv
