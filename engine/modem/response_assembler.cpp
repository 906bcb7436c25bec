#include "engine/modem/response_assembler.h"

#include "engine/modem/modem_strings.h"
#include "engine/session/fax_records.h"

namespace tv {

namespace {

constexpr size_t kResponseCapacity = 128;
constexpr uint8_t kDLE = 0x10;
constexpr uint8_t kETX = 0x03;

void Append(FaxModemData& modem, uint8_t byte) {
  if (modem.responseLine.size() < kResponseCapacity)
    modem.responseLine.push_back(static_cast<char>(byte));
}

}  // namespace

void ClearResponse(FaxModemData& modem) {
  modem.responseLine.clear();
  modem.crlfMatch = 0;
  modem.dleMatch = 0;
  modem.inFrame = false;
}

Assembled AssembleResponseByte(FaxModemData& modem, uint8_t byte) {
  // A completed line or frame is consumed once the next byte arrives.
  if (modem.crlfMatch == 2 || modem.dleMatch == 2) ClearResponse(modem);
  if (modem.inFrame) {
    if (modem.dleMatch == 1) {
      modem.dleMatch = 0;
      if (byte == kETX) {
        modem.inFrame = false;
        modem.dleMatch = 2;
        return Assembled::Frame;
      }
      Append(modem, byte);  // DLE DLE is one 0x10; DLE x stands for x
      return Assembled::Nothing;
    }
    if (byte == kDLE) {
      modem.dleMatch = 1;
      return Assembled::Nothing;
    }
    Append(modem, byte);
    return Assembled::Nothing;
  }
  if (byte == 0xFF && TrimControl(modem.responseLine).empty()) {
    modem.responseLine.clear();
    modem.inFrame = true;
    Append(modem, byte);
    return Assembled::Nothing;
  }
  if (byte == '\n' && modem.crlfMatch == 1) {
    std::string line = TrimControl(modem.responseLine);
    modem.crlfMatch = 0;
    if (line.empty()) {
      modem.responseLine.clear();
      return Assembled::Nothing;
    }
    modem.responseLine = line;
    modem.crlfMatch = 2;
    return Assembled::Line;
  }
  modem.crlfMatch = byte == '\r' ? 1 : 0;
  Append(modem, byte);
  return Assembled::Nothing;
}

bool AssembleSyncByte(std::string& line, bool& complete, uint8_t byte) {
  if (complete) {
    line.clear();
    complete = false;
  }
  if (byte == '\r') {
    if (!line.empty()) complete = true;
    return complete;
  }
  if (byte < 32) return false;
  if (line.size() >= 129) line.erase(0, 1);
  line.push_back(static_cast<char>(byte));
  return false;
}

}  // namespace tv
