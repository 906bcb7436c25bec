#include "engine/class2/class2_reports.h"

#include <cctype>
#include <cstdlib>

#include "engine/modem/modem_strings.h"
#include "engine/session/fax_records.h"
#include "engine/session/fax_speed.h"

namespace tv {

namespace {

const char* const kClass2Names[c2EntryCount] = {
    "AT+FCLASS=2", "", "", "", "AT+FDIS", "AT+FLID", "AT+FDCC",
    "+FCON", "+FDIS", "+FDCS", "+FTSI", "+FCSI", "+FPTS", "FHNG"};
const char* const kClass20Names[c2EntryCount] = {
    "AT+FCLASS=2.0", "", "", "", "AT+FIS", "AT+FLI", "AT+FCC",
    "+FCO", "+FIS", "+FCS", "+FTI", "+FCI", "+FPS", "FHS"};

std::string WithoutPlus(const std::string& text) {
  return !text.empty() && text[0] == '+' ? text.substr(1) : text;
}

bool BeginsWithReport(const std::string& line, const std::string& name) {
  std::string bare = WithoutPlus(name);
  if (bare.empty()) return false;
  std::string text = WithoutPlus(line);
  if (text.compare(0, bare.size(), bare) != 0) return false;
  return text.size() == bare.size() || text[bare.size()] == ':' || text[bare.size()] == ' ';
}

}  // namespace

const char* Class2Name(bool class20, int entry) {
  if (entry < 0 || entry >= c2EntryCount) return "";
  return class20 ? kClass20Names[entry] : kClass2Names[entry];
}

bool IsClass2Report(const FaxModemData& m, const std::string& line, int entry) {
  if (entry < 0 || entry >= c2EntryCount) return false;
  return BeginsWithReport(line, m.class2Commands[entry]) ||
         BeginsWithReport(line, Class2Name(false, entry)) ||
         BeginsWithReport(line, Class2Name(true, entry));
}

bool IsPostPageReport(const std::string& line) { return BeginsWithReport(line, "+FET"); }

int Class2ReportNumber(const std::string& line) {
  std::string value = ReplyValue(line);
  if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0]))) return -1;
  return std::atoi(value.c_str());
}

int Class2HangupCode(const std::string& line) {
  return std::atoi(ReplyValue(line).substr(0, 3).c_str());
}

std::string Class2AbortCommand(bool class20) { return class20 ? "AT+FKS" : "AT+FK"; }

void DecodeClass2Params(FaxModemData& m, const std::string& value) {
  auto at = [&value](size_t position) { return position <= value.size() ? value[position - 1] : '\0'; };
  switch (at(3)) {
    case '0': m.bitRate = 2400; break;
    case '1': m.bitRate = 4800; break;
    case '2': m.bitRate = 7200; break;
    case '4': m.bitRate = 12000; break;
    case '5': m.bitRate = 14400; break;
    default: m.bitRate = 9600; break;
  }
  m.speedIndex = FaxSpeedIndexOf(m.bitRate);
  bool fine = at(1) == '1';
  m.fineInUse = m.remoteFine = fine;
  bool wide = at(5) == '1';
  m.wideInUse = m.remoteWide = wide;
  // Position 11 says whether the modem corrects errors; the modem does that
  // itself, and the user's DesiredECM stays what the next command asks for.
  char scan = at(15);
  m.scanCode = scan >= '0' && scan <= '7' ? scan - '0' : 0;
  m.minimumBytes = MinimumBytesPerLine(m.scanCode, m.fineInUse, m.bitRate);
}

std::string Class2StationId(const std::string& value) {
  std::string id = TrimControl(value);
  if (!id.empty() && id[0] == '"') id[0] = ' ';
  while (!id.empty() && !std::isalnum(static_cast<unsigned char>(id.back()))) id.pop_back();
  id = TrimControl(id);
  return id.substr(0, 20);
}

}  // namespace tv
