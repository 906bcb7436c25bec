#include "engine/class1/t30_capabilities.h"

#include "engine/session/fax_records.h"
#include "engine/session/fax_speed.h"

namespace tv {

uint8_t DisRateBits(int speedIndex) {
  static const uint8_t kBits[7] = {0x00, 0x00, 0x08, 0x0C, 0x0C, 0x2C, 0x2C};
  return speedIndex >= 1 && speedIndex <= 6 ? kBits[speedIndex] : 0x00;
}

uint8_t DcsRateBits(int speedIndex) {
  static const uint8_t kBits[7] = {0x00, 0x00, 0x08, 0x0C, 0x04, 0x28, 0x20};
  return speedIndex >= 1 && speedIndex <= 6 ? kBits[speedIndex] : 0x00;
}

std::vector<uint8_t> DisInfo(int speedIndex) {
  return {0x00, static_cast<uint8_t>(0x42 | DisRateBits(speedIndex)), 0xF9, 0x00};
}

std::vector<uint8_t> DcsInfo(int speedIndex, bool fine, bool wide, int scanCode) {
  // Scan-time bits for normal / fine by scan-time code.
  static const uint8_t kScanBits[8][2] = {{0x70, 0x70}, {0x10, 0x10}, {0x20, 0x10},
                                          {0x20, 0x20}, {0x00, 0x20}, {0x00, 0x00},
                                          {0x40, 0x00}, {0x40, 0x40}};
  if (scanCode < 0 || scanCode > 7) scanCode = 0;
  uint8_t a = static_cast<uint8_t>((fine ? 0x42 : 0x02) | DcsRateBits(speedIndex));
  uint8_t b = static_cast<uint8_t>(kScanBits[scanCode][fine ? 1 : 0] | 0x88 | (wide ? 0x01 : 0x00));
  return {0x00, a, b, 0x00};
}

int ScanCodeFromBits(uint8_t b) {
  static const int kCodes[8] = {5, 1, 3, 4, 7, 6, 2, 0};
  return kCodes[(b & 0x70) >> 4];
}

void SelectSpeed(FaxModemData& modem, int speedIndex) {
  const FaxSpeed& speed = FaxSpeedEntry(speedIndex);
  modem.speedIndex = speedIndex < 1 || speedIndex > kFaxSpeedCount ? 1 : speedIndex;
  modem.bitRate = speed.bitRate;
  modem.modulation = speed.modulation;
  modem.minimumBytes = MinimumBytesPerLine(modem.scanCode, modem.fineInUse, modem.bitRate);
}

void DecodeDis(FaxModemData& modem, uint8_t a, uint8_t b) {
  modem.remoteSpeeds.fill(false);
  modem.remoteSpeeds[1] = modem.remoteSpeeds[2] = true;
  if ((a & 0x0C) == 0x04) modem.remoteSpeeds[4] = true;
  if ((a & 0x0C) == 0x0C) modem.remoteSpeeds[3] = modem.remoteSpeeds[4] = true;
  if (a & 0x20) modem.remoteSpeeds[5] = modem.remoteSpeeds[6] = true;  // V.17
  modem.remoteFine = (a & 0x40) != 0;
  modem.remoteWide = (b & 0x03) == 1;
  modem.fineInUse = modem.pageResolution == '1';
  modem.wideInUse = modem.pageWide;
  modem.scanCode = ScanCodeFromBits(b);
  int chosen = 1;
  for (int i = kFaxSpeedCount; i >= 1; --i) {
    if (modem.localSpeeds[i] && modem.remoteSpeeds[i] &&
        FaxSpeedEntry(i).bitRate <= modem.desiredBps) {
      chosen = i;
      break;
    }
  }
  SelectSpeed(modem, chosen);
}

void DecodeDcs(FaxModemData& modem, uint8_t a, uint8_t b) {
  int index = 1;
  const char* modulation = nullptr;
  switch (a & 0x3C) {
    case 0x20: index = 6; break;
    case 0x28: index = 5; break;
    case 0x24: index = 4; modulation = "97"; break;  // V.17 at 9600
    case 0x2C: index = 3; modulation = "73"; break;  // V.17 at 7200
    default:
      if (a & 0x20) index = 6;
      else if (a & 0x10) index = 5;
      else {
        static const int kByPair[4] = {1, 4, 2, 3};  // 0x00, 0x04, 0x08, 0x0C
        index = kByPair[(a & 0x0C) >> 2];
      }
  }
  modem.fineInUse = (a & 0x40) != 0;
  modem.wideInUse = (b & 0x03) == 1;
  modem.scanCode = ScanCodeFromBits(b);
  SelectSpeed(modem, index);
  if (modulation) modem.modulation = modulation;
}

bool StepSpeedDown(FaxModemData& modem) {
  for (int i = modem.speedIndex - 1; i >= 1; --i) {
    if (modem.localSpeeds[i] && modem.remoteSpeeds[i]) {
      SelectSpeed(modem, i);
      return true;
    }
  }
  return false;
}

int TrainingLength(int bitRate) {
  int n = bitRate / 100 * 18;
  return n > 8192 ? 8192 : n;
}

bool TrainingGood(long total, long nonZero) {
  if (total <= 0) return false;
  return nonZero * 100 / total < 10;
}

}  // namespace tv
