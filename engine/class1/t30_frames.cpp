#include "engine/class1/t30_frames.h"

#include "engine/class1/t30_capabilities.h"
#include "engine/session/fax_records.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr size_t kIdLength = 20;
// Only the first octets of a frame are read; longer frames are cut.
constexpr size_t kFrameOctetsRead = 24;

}  // namespace

std::vector<uint8_t> EncodeFrame(uint8_t control, bool final,
                                 const std::vector<uint8_t>& info) {
  std::vector<uint8_t> out;
  out.reserve(info.size() + 8);
  auto put = [&out](uint8_t octet) {
    out.push_back(octet);
    if (octet == kDLE) out.push_back(kDLE);
  };
  put(0xFF);
  put(final ? 0x13 : 0x03);
  put(control);
  for (uint8_t octet : info) put(octet);
  out.push_back(kDLE);
  out.push_back(kETX);
  return out;
}

std::vector<uint8_t> StationIdField(const std::string& id) {
  std::string cut = id.substr(0, kIdLength);
  std::vector<uint8_t> field(kIdLength - cut.size(), ' ');
  for (auto it = cut.rbegin(); it != cut.rend(); ++it)
    field.push_back(static_cast<uint8_t>(*it));
  return field;
}

std::string StationIdFromField(const uint8_t* field, size_t size) {
  if (size > kIdLength) size = kIdLength;
  std::string id;
  for (size_t i = size; i > 0; --i) id.push_back(static_cast<char>(field[i - 1]));
  return id;
}

int ParseReceivedFrame(FaxSession& session, const std::string& received) {
  FaxModemData& modem = session.modem;
  size_t start = 0;
  while (start + 1 < received.size() && static_cast<uint8_t>(received[start]) != 0xFF) ++start;
  std::string frame = received.substr(start, kFrameOctetsRead);
  if (frame.size() < 3) return ecOK;
  auto octet = [&frame](size_t i) -> uint8_t {
    return i < frame.size() ? static_cast<uint8_t>(frame[i]) : 0;
  };
  modem.finalFrame = (octet(1) & 0x10) != 0;
  uint8_t control = octet(2);
  modem.lastControl = control;
  const uint8_t* info = reinterpret_cast<const uint8_t*>(frame.data()) + 3;
  size_t infoSize = frame.size() - 3;
  if (control == fcfMCF || control == fcfRTP) return ecOK;
  switch (control & 0xFE) {
    case fcfCSI:
    case fcfTSI & 0xFE:
      session.common.remoteId = StationIdFromField(info, infoSize);
      SetFaxStatus(session, fsGotStationId);
      break;
    case fcfFTT:
    case fcfRTN:
      modem.retrain = true;
      break;
    case fcfDIS:
      DecodeDis(modem, octet(4), octet(5));
      if ((modem.fineInUse && !modem.remoteFine) || (modem.wideInUse && !modem.remoteWide)) {
        ReportFaxError(session, ecFaxBadMachine);
        return ecFaxBadMachine;
      }
      SetFaxStatus(session, fsConnectionParams);
      break;
    case fcfDCS & 0xFE:
      DecodeDcs(modem, octet(4), octet(5));
      SetFaxStatus(session, fsConnectionParams);
      break;
    case fcfCFR:
      modem.cfrReceived = true;
      break;
    case fcfDCN & 0xFE:
      return ecCancelRequested;
    default:
      break;
  }
  return ecOK;
}

}  // namespace tv
