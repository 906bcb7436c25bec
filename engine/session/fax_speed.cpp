#include "engine/session/fax_speed.h"

namespace tv {

namespace {

const FaxSpeed kSpeeds[kFaxSpeedCount] = {
    {2400, "24", '0'},  {4800, "48", '1'},   {7200, "72", '2'},
    {9600, "96", '3'},  {12000, "121", '4'}, {14400, "145", '5'},
};

// Normal, fine.
const int kScanMs[8][2] = {{0, 0},   {5, 5},   {10, 5},  {10, 10},
                           {20, 10}, {20, 20}, {40, 20}, {40, 40}};

}  // namespace

const FaxSpeed& FaxSpeedEntry(int index) {
  if (index < 1 || index > kFaxSpeedCount) index = 1;
  return kSpeeds[index - 1];
}

char Class2BitRateDigit(int bitRate) {
  int index = FaxSpeedIndexOf(bitRate);
  return index == 0 ? '3' : kSpeeds[index - 1].class2Digit;
}

int FaxSpeedIndexOf(int bitRate) {
  for (int i = 0; i < kFaxSpeedCount; ++i)
    if (kSpeeds[i].bitRate == bitRate) return i + 1;
  return 0;
}

std::string PageDataModulation(const std::string& trainingCode) {
  if (trainingCode == "145") return "146";
  if (trainingCode == "121") return "122";
  if (trainingCode == "97") return "98";
  if (trainingCode == "73") return "74";
  return trainingCode;
}

int MinimumScanMs(int scanCode, bool fine) {
  if (scanCode < 0 || scanCode > 7) return 0;
  return kScanMs[scanCode][fine ? 1 : 0];
}

int MinimumBytesPerLine(int scanCode, bool fine, int bitRate) {
  return MinimumScanMs(scanCode, fine) * bitRate / 8000;
}

}  // namespace tv
