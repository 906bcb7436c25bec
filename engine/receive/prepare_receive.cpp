#include "engine/class1/class1_query.h"
#include "engine/modem/modem_commands.h"
#include "engine/receive/receive.h"
#include "engine/session/fax_session.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

bool SetUpModem(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  if (!m.modemInitialised) {
    if (!m.modemInit.empty() && !SendCommandWait(s, m.modemInit)) return false;
    if (!SendCommandWait(s, m.engineInit)) return false;
    m.modemInitialised = true;
  }
  if (c.faxClass == kFaxClass1) {
    if (!SendCommandWait(s, "AT+FCLASS=1")) return false;
    SwitchToNormalRate(s);
    if (!QueryClass1Modulations(s, false)) return false;
  } else {
    if (!SendCommandWait(s, m.class2Commands[0])) return false;
    SwitchToNormalRate(s);
    if (!SendCommandWait(s, "AT+FCR=1")) return false;
    if (!SendCommandWait(s, m.class2Commands[5] + "=\"" + c.stationId + "\"")) return false;
    if (!SendCommandWait(s, std::string("AT+FAA=") + m.faxAndData)) return false;
  }
  c.sessionInitialised = true;
  return true;
}

}  // namespace

void PrepareReceive(FaxSession& s) {
  FaxCommonData& c = s.common;
  c.error = ecOK;
  c.status = 0;
  if (c.faxClass == kFaxClassNone || c.faxClass == kFaxClassDetect) {
    SetFaxClass(s, kFaxClassDetect);
    if (c.faxClass == kFaxClassNone) {
      ReportFaxError(s, ecFaxBadModemResult);
      return;
    }
  }
  if (c.faxClass == kFaxClass2 || c.faxClass == kFaxClass20) FillClass2CommandTable(s);
  bool previous = c.port->SuspendDelivery(true);
  // A modem that does not answer here is left to the machine's first
  // command, which reports it.
  SetUpModem(s);
  c.port->DiscardInput();
  c.port->SuspendDelivery(previous);
}

int StartReceive(FaxSession& s) { return StartFaxSession(s, PrepareReceive, ReceiveStep); }

}  // namespace tv
