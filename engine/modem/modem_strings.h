// The texts the engine sends to the modem and the tests it applies to the
// modem's replies.
#pragma once

#include <string>

namespace tv {

// The engine's init string for the busy-detection and blind-dial options.
std::string EngineInitString(bool detectBusy, bool blindDial);

// "ATD", 'T' (tone) or 'P' (pulse), the prefix, the number.
std::string DialString(bool toneDial, const std::string& prefix, const std::string& number);

// Classes named in a reply to AT+FCLASS=?.
struct FaxClassSupport {
  bool class1 = false;
  bool class2 = false;
  bool class20 = false;
};
FaxClassSupport ParseFaxClassReply(const std::string& reply);

// The value of a reply: the text after the first ':' (or, without one, the
// first '='), trimmed.
std::string ReplyValue(const std::string& reply);

// Trims characters below 33 at both ends.
std::string TrimControl(const std::string& text);

bool Contains(const std::string& line, const char* text);

}  // namespace tv
