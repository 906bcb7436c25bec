#include "engine/class2/class2_reports.h"

#include <cctype>

#include "engine/modem/modem_strings.h"
#include "engine/session/fax_records.h"
#include "engine/session/fax_speed.h"

namespace tv {

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
  m.desiredEcm = (at(11) == '1' || at(11) == '2') ? '1' : m.desiredEcm;
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
