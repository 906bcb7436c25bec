// Reading the +F reports of Class 2 and Class 2.0 modems.
#pragma once

#include <string>

namespace tv {

struct FaxModemData;

// A parameter report value (vr,br,wd,ln,df,ec,bf,st) read at the fixed
// character positions 1, 3, 5, 11 and 15: bit rate, fine resolution (also
// remote fine), 2048-pixel lines (also remote wide), error correction, scan
// time; then the minimum bytes per line.
void DecodeClass2Params(FaxModemData& modem, const std::string& value);

// A station-id report value: trimmed, a leading double quote becomes a
// blank, trailing characters that are neither digits nor letters go, at
// most 20 characters.
std::string Class2StationId(const std::string& value);

}  // namespace tv
