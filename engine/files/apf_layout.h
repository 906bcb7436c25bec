// The byte layout of APF file and page headers as the engine reads and
// writes them (little-endian, 64 and 16 bytes).
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace tv {

constexpr int kApfFileHeaderSize = 64;
constexpr int kApfPageHeaderSize = 16;
enum : uint16_t { pfHighRes = 1, pfWide = 2, pfLineRecords = 4 };

struct ApfHeaderFields {
  bool signatureOk = false;
  uint32_t fileTime = 0;
  std::string stationId;
  uint16_t pageCount = 0;
  uint32_t firstPageOffset = 64;
};

ApfHeaderFields ParseApfFileHeader(const uint8_t* bytes);
std::array<uint8_t, kApfFileHeaderSize> MakeApfFileHeader(uint32_t fileTime,
                                                           const std::string& stationId,
                                                           uint16_t pageCount);
void ParseApfPageHeader(const uint8_t* bytes, uint32_t& dataLength, uint16_t& flags);
std::array<uint8_t, kApfPageHeaderSize> MakeApfPageHeader(uint32_t dataLength, uint16_t flags);

// Date and time packed DOS style; 0 outside 1980..2099.
uint32_t PackFileTime(std::time_t when);

}  // namespace tv
