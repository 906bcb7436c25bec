// T.30 control frames as a Class 1 modem carries them: building frames to
// send after AT+FTH=3, and parsing frames received after AT+FRH=3. Octets
// are in the modem's order (the bit sent first is the least significant).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

struct FaxSession;

// Control fields as sent; received frames are recognised with the low bit
// (the X bit) cleared, except MCF and RTP, which must match exactly.
enum : uint8_t {
  fcfCSI = 0x40,
  fcfTSI = 0x43,
  fcfDIS = 0x80,
  fcfDCS = 0x83,
  fcfCFR = 0x84,
  fcfFTT = 0x44,
  fcfMCF = 0x8C,
  fcfRTP = 0xCC,
  fcfRTN = 0x4C,
  fcfMPS = 0x4F,
  fcfEOP = 0x2F,
  fcfDCN = 0xFB,
};

constexpr uint8_t kDLE = 0x10;
constexpr uint8_t kETX = 0x03;
constexpr uint8_t kXON = 0x11;
constexpr uint8_t kXOFF = 0x13;
constexpr uint8_t kDC2 = 0x12;
constexpr uint8_t kSUB = 0x1A;  // DLE SUB: two data DLEs

// The bytes written to the modem for one frame: 0xFF, 0x13 (final) or 0x03,
// the control field, the information field, DLE ETX. A 0x10 inside the
// frame is doubled so that the modem does not read it as a command.
std::vector<uint8_t> EncodeFrame(uint8_t control, bool final,
                                 const std::vector<uint8_t>& info = {});

// CSI / TSI information field: the id sent last character first, preceded
// by blanks so that it fills 20 octets.
std::vector<uint8_t> StationIdField(const std::string& id);

// The id carried by a CSI / TSI field (the octets taken last first).
std::string StationIdFromField(const uint8_t* field, size_t size);

// Parses one received frame (the octets between CONNECT and DLE ETX, DLE
// doubling already undone) into the session: final-frame flag, last control
// field, remote id, capabilities, CFR and retrain flags, status. Returns 0,
// -8070 for a DIS the current page cannot use, -6005 for DCN.
int ParseReceivedFrame(FaxSession& session, const std::string& frame);

}  // namespace tv
