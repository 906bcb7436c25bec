// Names for received fax files: the counter rule (FAX0001.APF ...) and the
// date rule (MMDD0001.APF ...), in the destination folder.
#pragma once

#include <ctime>
#include <string>

namespace tv {

// The first free name of the rule; "NONAME.APF" (in the folder) when the
// numbers 1..9999 are all taken.
std::string CounterFileName(const std::string& dir, const std::string& ext);
std::string DateFileName(const std::string& dir, const std::string& ext, std::time_t when);

}  // namespace tv
