// Small steps that the transmit and the receive state machines share: the
// session's fax class, the modem's last reply, software flow control for page
// data, and sending a Class 1 frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/class1/t30_frames.h"
#include "engine/modem/modem_commands.h"
#include "engine/modem/modem_strings.h"
#include "engine/modem/response_assembler.h"
#include "engine/session/fax_session.h"

namespace tv {

inline bool IsClass1(const FaxSession& s) { return s.common.faxClass == kFaxClass1; }
inline bool IsClass2(const FaxSession& s) { return s.common.faxClass == kFaxClass2; }
inline bool IsClass20(const FaxSession& s) { return s.common.faxClass == kFaxClass20; }

// The modem's last text reply.
inline const std::string& ResponseText(const FaxSession& s) { return s.modem.responseLine; }
inline bool ResponseHas(const FaxSession& s, const char* text) {
  return Contains(ResponseText(s), text);
}

// Software flow control is switched only when the session uses it, and only
// around page data (a frame's 0x13 would otherwise be taken for XOFF).
inline void SetPageFlow(FaxSession& s, FaxFlow flow) {
  if (s.common.flags & ffSoftwareFlow) s.common.port->SetSoftwareFlow(flow);
}

// Sends one HDLC frame after the short pause the modem needs after CONNECT.
inline void SendFrame(FaxSession& s, uint8_t control, bool final,
                      const std::vector<uint8_t>& info = {}) {
  s.common.port->Delay(20);
  WriteModem(s, EncodeFrame(control, final, info));
  ClearResponse(s.modem);
}

}  // namespace tv
