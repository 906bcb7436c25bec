// APF fax files: a 64-byte file header, then pages, each a 16-byte page
// header followed by its data (T.4 one-dimensional code, least significant
// bit first; with pfLineRecords a sequence of 16-bit counted line records).
// All multi-byte integers are little-endian.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace tv {

constexpr int kApfFileHeaderSize = 64;
constexpr int kApfPageHeaderSize = 16;
constexpr int kApfStationIdLength = 20;
// A reader takes at most this many bytes of one line record.
constexpr int kApfMaxRecordBytes = 4096;
// "APF10" and 0x1A.
inline constexpr char kApfSignature[6] = {'A', 'P', 'F', '1', '0', 0x1A};
inline constexpr const char* kApfDefaultExtension = "APF";

// pageFlags.
enum : uint16_t {
  pfHighRes = 1,      // fine vertical resolution
  pfWide = 2,         // 2048-pixel lines (clear: 1728)
  pfLineRecords = 4,  // page data is a sequence of line records
};

struct ApfFileHeader {
  char signature[6] = {};
  uint32_t fileTime = 0;     // packed DOS date (high 16 bits) and time (low)
  uint8_t stationIdLength = 0;
  char stationId[kApfStationIdLength] = {};
  uint16_t pageCount = 0;
  uint32_t firstPageOffset = kApfFileHeaderSize;

  // The station id within its length (at most 20 characters).
  std::string StationId() const;
  bool HasSignature() const;
};

struct ApfPageHeader {
  uint32_t dataLength = 0;  // page-data bytes after this header
  uint16_t pageFlags = 0;
};

// Byte layout of the headers.
void PackApfFileHeader(const ApfFileHeader& h, uint8_t out[kApfFileHeaderSize]);
void UnpackApfFileHeader(const uint8_t in[kApfFileHeaderSize], ApfFileHeader& h);
void PackApfPageHeader(const ApfPageHeader& h, uint8_t out[kApfPageHeaderSize]);
void UnpackApfPageHeader(const uint8_t in[kApfPageHeaderSize], ApfPageHeader& h);

// A header with the signature, firstPageOffset 64 and every other field 0.
ApfFileHeader NewApfFileHeader();

// Packs a local date and time DOS style; 0 outside the years 1980..2099.
uint32_t PackDosDateTime(const std::tm& local);

// True when the file starts with the APF signature; false for any failure.
bool IsApfFile(const std::string& path);

// Reads the 64-byte file header. Empty path: -2; open or read failure: the
// negated file-layer code; signature mismatch: ecBadFaxFormat (-8001).
int ReadApfFileHeader(const std::string& path, ApfFileHeader& header);
// The same from a file that is already open (reads from offset 0).
int ReadApfFileHeader(std::FILE* file, ApfFileHeader& header);

// Walks to page pageNo (from 1) of an open file whose header is given and
// reads its page header; the file then stands at the page's first data
// byte. A page number of 0 or above pageCount gives ecBadFaxFormat.
int SeekApfPage(std::FILE* file, const ApfFileHeader& fileHeader, int pageNo,
                ApfPageHeader& pageHeader);

// Reads one line record: the 16-bit count, limited to 4096, then that many
// bytes into buffer (at least kApfMaxRecordBytes bytes). Returns the byte
// count or a negative file-layer code (-100 at the end of the file).
int ReadLineRecord(std::FILE* file, uint8_t* buffer);

// Opens a file for reading; returns nullptr and sets error to the negated
// file-layer code on failure (-2 for an empty path).
std::FILE* OpenApfForReading(const std::string& path, int& error);

// Writes an APF file in the designed order: the initial header at Create,
// each page header with dataLength 0 at its first data, the final
// dataLength after the end-of-page mark, and the full file header at Finish.
// A writer that is destroyed or abandoned before Finish deletes its file.
class ApfWriter {
 public:
  ApfWriter() = default;
  ~ApfWriter();
  ApfWriter(const ApfWriter&) = delete;
  ApfWriter& operator=(const ApfWriter&) = delete;

  // Creates the file and writes the initial header. 0 or a negative code.
  int Create(const std::string& path);
  // Starts a page: remembers the offset and writes its header with
  // dataLength 0 (done lazily by the first Write of the page).
  int BeginPage(uint16_t pageFlags);
  bool PageOpen() const { return pageOpen_; }
  // Appends page data; counts towards dataLength.
  int Write(const uint8_t* data, size_t length);
  // Appends one line record (16-bit count and bytes).
  int WriteLineRecord(const uint8_t* data, size_t length);
  // Rewrites the page header with the final dataLength; pageCount + 1.
  int EndPage();
  // Fills station id and time, rewrites the file header and closes.
  int Finish(const std::string& stationId, uint32_t fileTime);
  int Finish(const std::string& stationId);  // with the current local time
  // Closes and deletes the partial file.
  void Abandon();

  uint16_t PageCount() const { return header_.pageCount; }
  const std::string& Path() const { return path_; }

 private:
  int WriteRaw(const uint8_t* data, size_t length);

  std::FILE* file_ = nullptr;
  std::string path_;
  ApfFileHeader header_;
  bool pageOpen_ = false;
  bool pageHeaderWritten_ = false;
  uint16_t pageFlags_ = 0;
  long pageHeaderOffset_ = 0;
  uint32_t dataLength_ = 0;
};

}  // namespace tv
