#include "engine/modem/modem_strings.h"

namespace tv {

std::string EngineInitString(bool detectBusy, bool blindDial) {
  char level = detectBusy ? (blindDial ? '3' : '4') : (blindDial ? '1' : '2');
  return std::string("ATE0Q0V1X") + level + "S0=0S2=43";
}

std::string DialString(bool toneDial, const std::string& prefix, const std::string& number) {
  return std::string("ATD") + (toneDial ? 'T' : 'P') + prefix + number;
}

std::string TrimControl(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) < 33) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33) --end;
  return text.substr(begin, end - begin);
}

std::string ReplyValue(const std::string& reply) {
  size_t cut = reply.find(':');
  if (cut == std::string::npos) cut = reply.find('=');
  std::string value = cut == std::string::npos ? reply : reply.substr(cut + 1);
  return TrimControl(value);
}

FaxClassSupport ParseFaxClassReply(const std::string& reply) {
  std::string value = ReplyValue(reply);
  FaxClassSupport support;
  support.class1 = value.find('1') != std::string::npos;
  if (value.find("2.0") != std::string::npos) {
    support.class20 = true;
    support.class2 = value.find("2,") != std::string::npos;
  } else {
    support.class2 = value.find('2') != std::string::npos;
  }
  return support;
}

bool Contains(const std::string& line, const char* text) {
  return line.find(text) != std::string::npos;
}

}  // namespace tv
