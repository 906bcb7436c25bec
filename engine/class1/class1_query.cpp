#include "engine/class1/class1_query.h"

#include <string>

#include "engine/class1/t30_capabilities.h"
#include "engine/modem/modem_commands.h"
#include "engine/modem/response_assembler.h"
#include "engine/session/fax_records.h"
#include "engine/session/fax_speed.h"

namespace tv {

void TakeModulationLine(FaxSession& s, const char* text) {
  std::string line(text);
  if (line.find(',') == std::string::npos) return;
  FaxModemData& m = s.modem;
  if (line.find("72") != std::string::npos) m.localSpeeds[3] = true;
  if (line.find("96") != std::string::npos) m.localSpeeds[4] = true;
  if (line.find("121") != std::string::npos) m.localSpeeds[5] = true;
  if (line.find("145") != std::string::npos) m.localSpeeds[6] = true;
}

bool QueryClass1Modulations(FaxSession& s, bool sending) {
  if (!SendCommandWait(s, "AT+FCLASS=1")) return false;
  FaxModemData& m = s.modem;
  FaxPort* port = s.common.port;
  m.localSpeeds.fill(false);
  m.localSpeeds[1] = m.localSpeeds[2] = true;
  bool previous = port->SuspendDelivery(true);
  SendCommand(s, sending ? "AT+FTM=?" : "AT+FRM=?");
  std::string line;
  bool complete = false;
  bool done = false;
  while (!done && port->Ticks() < m.waitDeadline) {
    port->DeliverPending();
    if (port->InputWaiting() == 0) {
      port->Delay(10);
      continue;
    }
    while (!done && port->InputWaiting() > 0) {
      int byte = port->ReadByte();
      if (byte < 0) break;
      if (!AssembleSyncByte(line, complete, static_cast<uint8_t>(byte))) continue;
      TakeModulationLine(s, line.c_str());
      m.waitDeadline = port->Ticks() + 36;
      done = Contains(line, "OK") || Contains(line, "ERROR");
    }
  }
  port->DiscardInput();
  port->SuspendDelivery(previous);
  int index = 1;
  for (int i = kFaxSpeedCount; i >= 1; --i)
    if (m.localSpeeds[i]) {
      index = i;
      break;
    }
  if (!sending)
    while (index > 1 && FaxSpeedEntry(index).bitRate > m.desiredBps) --index;
  SelectSpeed(m, index);
  return true;
}

}  // namespace tv
