// The command and report names of Class 2 and Class 2.0 modems, and reading
// their +F reports.
#pragma once

#include <string>

namespace tv {

struct FaxModemData;

// Entries of the Class2CommandTable.
enum Class2Entry : int {
  c2Class = 0,             // AT+FCLASS=2 / AT+FCLASS=2.0
  c2SessionCommand = 4,    // AT+FDIS / AT+FIS
  c2LocalId = 5,           // AT+FLID / AT+FLI
  c2Capabilities = 6,      // AT+FDCC / AT+FCC
  c2ConnectReport = 7,     // +FCON / +FCO
  c2RemoteCaps = 8,        // +FDIS / +FIS
  c2SessionReport = 9,     // +FDCS / +FCS
  c2TsiReport = 10,        // +FTSI / +FTI
  c2CsiReport = 11,        // +FCSI / +FCI
  c2PageStatus = 12,       // +FPTS / +FPS
  c2HangupReport = 13,     // FHNG / FHS
  c2EntryCount = 14,
};

// The name of an entry for Class 2 (class20 false) or Class 2.0.
const char* Class2Name(bool class20, int entry);

// True when the trimmed reply line is the report of a table entry: it
// begins with the session's name for it or with the other class's name
// (modems mix the two sets), '+' optional, followed by ':', a blank or
// nothing. Matching at the start keeps a station id such as "+FCSI:"FHS 1""
// from being read as another report.
bool IsClass2Report(const FaxModemData& modem, const std::string& line, int entry);
// The post-page report (+FET) of a receiving modem.
bool IsPostPageReport(const std::string& line);

// The first number of a report value ("+FPTS:1,2200,0,0" gives 1); -1 when
// the value does not begin with a digit.
int Class2ReportNumber(const std::string& line);
// The hang-up report's code: the number after its ':'.
int Class2HangupCode(const std::string& line);

// The command that ends a session at once: AT+FK for Class 2 modems, which
// do not know the Class 2.0 AT+FKS.
std::string Class2AbortCommand(bool class20);

// A parameter report value (vr,br,wd,ln,df,ec,bf,st) read at the fixed
// character positions 1, 3, 5 and 15: fine resolution (also remote
// fine), bit rate, 2048-pixel lines (also remote wide), scan time; then the
// minimum bytes per line. Error correction (position 11) is left to the
// modem.
void DecodeClass2Params(FaxModemData& modem, const std::string& value);

// A station-id report value: trimmed, a leading double quote becomes a
// blank, trailing characters that are neither digits nor letters go, at
// most 20 characters.
std::string Class2StationId(const std::string& value);

}  // namespace tv
