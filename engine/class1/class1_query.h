// The Class 1 modulation query: which speeds the modem offers for sending
// (AT+FTM=?) or receiving (AT+FRM=?).
#pragma once

namespace tv {

struct FaxSession;

// Sets the local speed flags and the speed index from the modem's reply.
// A receive session then lowers the index to DesiredBPS. False when the
// modem refused AT+FCLASS=1.
bool QueryClass1Modulations(FaxSession& s, bool sending);

// Sets the local speed flags from one reply line such as
// "24,48,72,73,74,96,97,98,121,122,145,146".
void TakeModulationLine(FaxSession& s, const char* line);

}  // namespace tv
