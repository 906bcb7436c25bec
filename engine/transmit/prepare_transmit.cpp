#include "engine/class1/class1_query.h"
#include "engine/modem/modem_commands.h"
#include "engine/session/fax_session.h"
#include "engine/session/fax_status.h"
#include "engine/transmit/transmit.h"
#include "platform/core/error_codes.h"

namespace tv {

void PrepareTransmit(FaxSession& s) {
  FaxCommonData& c = s.common;
  FaxModemData& m = s.modem;
  m.pageResolution = ' ';
  m.previousResolution = ' ';
  s.state = 1;
  SetFaxStatus(s, fsInitializing);
  c.error = ecOK;
  NotifyOwner(s, FaxMsgStatus, fsmFirst);
  c.bytesTransferred = 0;
  c.pageLength = 0;
  c.remoteId.clear();
  c.coverCount = 0;
  c.faxFile.clear();
  c.coverFile.clear();
  c.phoneNumber.clear();
  c.busyRetries = 0;
  c.currentPage = 1;

  c.port->SetBitRate(19200);
  m.atInitBaud = false;
  c.port->SetLineSignals(true, true);

  if (c.faxClass == kFaxClassNone) c.faxClass = kFaxClassDetect;
  if (c.faxClass == kFaxClassDetect) {
    SetFaxClass(s, kFaxClassDetect);
    if (c.faxClass == kFaxClassNone) {
      ReportFaxError(s, ecFaxBadModemResult);
      return;
    }
  }
  if (!m.modemInitialised) {
    if ((!m.modemInit.empty() && !SendCommandWait(s, m.modemInit)) ||
        !SendCommandWait(s, m.engineInit)) {
      ReportFaxError(s, ecFaxBadModemResult);
      return;
    }
    m.modemInitialised = true;
  }
  if (c.faxClass == kFaxClass2 || c.faxClass == kFaxClass20) FillClass2CommandTable(s);
  SwitchToNormalRate(s);
  if (c.faxClass == kFaxClass1 && !QueryClass1Modulations(s, true)) {
    ReportFaxError(s, ecFaxBadModemResult);
    return;
  }
  c.sessionInitialised = true;
}

int StartTransmit(FaxSession& s) { return StartFaxSession(s, PrepareTransmit, TransmitStep); }

}  // namespace tv
