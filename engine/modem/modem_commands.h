// Commands to the modem: sending with the designed pauses, the synchronous
// command used outside the state machines, the fax-class query, reset by
// DTR, init and normal bit rates, the two hang-ups and dialling.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/modem/modem_strings.h"

namespace tv {

struct FaxSession;

// Writes raw bytes to the modem; returns the port's code.
int WriteModem(FaxSession& s, const std::vector<uint8_t>& bytes);
int WriteModem(FaxSession& s, const std::string& text);

// An ordinary command: waits 100 ms, writes it with CR, empties the
// ResponseLine, arms the time-out timer and the wait deadline with the
// response time-out.
int SendCommand(FaxSession& s, const std::string& command);
// A Class 1 frame or modulation command (AT+FTH=3, AT+FRH=3, AT+FTM=m,
// AT+FRM=m): the same after a 40 ms wait.
int SendFrameCommand(FaxSession& s, const std::string& command);

// Sends a command and reads its reply with trigger delivery suspended.
// True when the modem accepted it; `reply`, when given, receives the first
// line that is neither the echo nor OK.
bool SendCommandWait(FaxSession& s, const std::string& command, std::string* reply = nullptr);

// Asks AT+FCLASS=? (after reset by DTR and the engine init string when
// withInit is set). Returns true when a reply arrived.
bool QueryFaxClasses(FaxSession& s, bool withInit, FaxClassSupport& support);

// Stores the class; kFaxClassDetect queries the modem and stores 2.0, 2, 1
// or none, in that order of preference.
void SetFaxClass(FaxSession& s, int faxClass);

void ResetModemByDtr(FaxSession& s);
void SwitchToInitRate(FaxSession& s);
void SwitchToNormalRate(FaxSession& s);
void TransmitHangup(FaxSession& s);
void ReceiveHangup(FaxSession& s);

// Sends the dial string and arms the time-out timer with DialWait.
int SendDialString(FaxSession& s);

// Fills the Class2CommandTable for class 2 or 2.0.
void FillClass2CommandTable(FaxSession& s);

}  // namespace tv
