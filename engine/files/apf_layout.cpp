#include "engine/files/apf_layout.h"

#include <cstring>

namespace tv {

namespace {

const uint8_t kSignature[6] = {'A', 'P', 'F', '1', '0', 0x1A};

uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

ApfHeaderFields ParseApfFileHeader(const uint8_t* bytes) {
  ApfHeaderFields fields;
  fields.signatureOk = std::memcmp(bytes, kSignature, 6) == 0;
  fields.fileTime = Get32(bytes + 6);
  int length = bytes[10] > 20 ? 20 : bytes[10];
  fields.stationId.assign(reinterpret_cast<const char*>(bytes + 11), length);
  fields.pageCount = static_cast<uint16_t>(bytes[32] | (bytes[33] << 8));
  fields.firstPageOffset = Get32(bytes + 34);
  return fields;
}

std::array<uint8_t, kApfFileHeaderSize> MakeApfFileHeader(uint32_t fileTime,
                                                           const std::string& stationId,
                                                           uint16_t pageCount) {
  std::array<uint8_t, kApfFileHeaderSize> h{};
  std::memcpy(h.data(), kSignature, 6);
  Put32(h.data() + 6, fileTime);
  std::string id = stationId.substr(0, 20);
  id.resize(20, ' ');
  h[10] = 20;
  std::memcpy(h.data() + 11, id.data(), 20);
  h[32] = static_cast<uint8_t>(pageCount);
  h[33] = static_cast<uint8_t>(pageCount >> 8);
  Put32(h.data() + 34, kApfFileHeaderSize);
  return h;
}

void ParseApfPageHeader(const uint8_t* bytes, uint32_t& dataLength, uint16_t& flags) {
  dataLength = Get32(bytes);
  flags = static_cast<uint16_t>(bytes[4] | (bytes[5] << 8));
}

std::array<uint8_t, kApfPageHeaderSize> MakeApfPageHeader(uint32_t dataLength, uint16_t flags) {
  std::array<uint8_t, kApfPageHeaderSize> h{};
  Put32(h.data(), dataLength);
  h[4] = static_cast<uint8_t>(flags);
  h[5] = static_cast<uint8_t>(flags >> 8);
  return h;
}

uint32_t PackFileTime(std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  uint32_t time = (tm.tm_sec / 2) | (tm.tm_min << 5) | (tm.tm_hour << 11);
  uint32_t date = tm.tm_mday | ((tm.tm_mon + 1) << 5) | ((year - 1980) << 9);
  return (date << 16) | time;
}

}  // namespace tv
