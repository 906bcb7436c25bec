#include "images/apf/apf_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/core/error_codes.h"

namespace tv {

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The negated file-layer code of the last failed call.
int IoError() {
  const int e = errno;
  return e ? -FileErrorFromErrno(e) : -ecReadBeyondEOF;
}

// Reads exactly n bytes; -100 when the file ends first.
int ReadExactly(std::FILE* f, void* buffer, size_t n) {
  if (n == 0) return 0;
  errno = 0;
  const size_t got = std::fread(buffer, 1, n, f);
  if (got == n) return 0;
  if (std::ferror(f)) return IoError();
  return -ecReadBeyondEOF;
}

}  // namespace

std::string ApfFileHeader::StationId() const {
  const size_t n = stationIdLength > kApfStationIdLength ? kApfStationIdLength : stationIdLength;
  return std::string(stationId, n);
}

bool ApfFileHeader::HasSignature() const {
  return std::memcmp(signature, kApfSignature, sizeof kApfSignature) == 0;
}

void PackApfFileHeader(const ApfFileHeader& h, uint8_t out[kApfFileHeaderSize]) {
  std::memset(out, 0, kApfFileHeaderSize);
  std::memcpy(out, h.signature, 6);
  Put32(out + 6, h.fileTime);
  out[10] = h.stationIdLength;
  std::memcpy(out + 11, h.stationId, kApfStationIdLength);
  Put16(out + 32, h.pageCount);
  Put32(out + 34, h.firstPageOffset);
}

void UnpackApfFileHeader(const uint8_t in[kApfFileHeaderSize], ApfFileHeader& h) {
  std::memcpy(h.signature, in, 6);
  h.fileTime = Get32(in + 6);
  h.stationIdLength = in[10];
  std::memcpy(h.stationId, in + 11, kApfStationIdLength);
  h.pageCount = Get16(in + 32);
  h.firstPageOffset = Get32(in + 34);
}

void PackApfPageHeader(const ApfPageHeader& h, uint8_t out[kApfPageHeaderSize]) {
  std::memset(out, 0, kApfPageHeaderSize);
  Put32(out, h.dataLength);
  Put16(out + 4, h.pageFlags);
}

void UnpackApfPageHeader(const uint8_t in[kApfPageHeaderSize], ApfPageHeader& h) {
  h.dataLength = Get32(in);
  h.pageFlags = Get16(in + 4);
}

ApfFileHeader NewApfFileHeader() {
  ApfFileHeader h;
  std::memcpy(h.signature, kApfSignature, 6);
  h.firstPageOffset = kApfFileHeaderSize;
  return h;
}

uint32_t PackDosDateTime(const std::tm& t) {
  const int year = t.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  const uint32_t time = static_cast<uint32_t>((t.tm_sec / 2) | (t.tm_min << 5) | (t.tm_hour << 11));
  const uint32_t date =
      static_cast<uint32_t>(t.tm_mday | ((t.tm_mon + 1) << 5) | ((year - 1980) << 9));
  return (date << 16) | (time & 0xFFFF);
}

std::FILE* OpenApfForReading(const std::string& path, int& error) {
  error = 0;
  if (path.empty()) {
    error = -ecFileNotFound;
    return nullptr;
  }
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = errno ? -FileErrorFromErrno(errno) : -ecFileNotFound;
    return nullptr;
  }
  // Refuse folders and other things that open but cannot be read as files.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    std::fclose(f);
    error = -ecAccessDenied;
    return nullptr;
  }
  return f;
}

bool IsApfFile(const std::string& path) {
  int error = 0;
  std::FILE* f = OpenApfForReading(path, error);
  if (!f) return false;
  char sig[6];
  const bool ok = std::fread(sig, 1, 6, f) == 6 && std::memcmp(sig, kApfSignature, 6) == 0;
  std::fclose(f);
  return ok;
}

int ReadApfFileHeader(std::FILE* file, ApfFileHeader& header) {
  if (std::fseek(file, 0, SEEK_SET) != 0) return IoError();
  uint8_t raw[kApfFileHeaderSize];
  const int rc = ReadExactly(file, raw, sizeof raw);
  if (rc < 0) {
    // A file too short to hold a header is not an APF file when what it
    // has does not even start with the signature.
    return rc;
  }
  UnpackApfFileHeader(raw, header);
  if (!header.HasSignature()) return ecBadFaxFormat;
  return 0;
}

int ReadApfFileHeader(const std::string& path, ApfFileHeader& header) {
  int error = 0;
  std::FILE* f = OpenApfForReading(path, error);
  if (!f) return error;
  const int rc = ReadApfFileHeader(f, header);
  std::fclose(f);
  return rc;
}

int SeekApfPage(std::FILE* file, const ApfFileHeader& fileHeader, int pageNo,
                ApfPageHeader& pageHeader) {
  if (pageNo < 1 || pageNo > fileHeader.pageCount) return ecBadFaxFormat;
  if (std::fseek(file, static_cast<long>(fileHeader.firstPageOffset), SEEK_SET) != 0) {
    return IoError();
  }
  uint8_t raw[kApfPageHeaderSize];
  for (int page = 1;; ++page) {
    const int rc = ReadExactly(file, raw, sizeof raw);
    if (rc < 0) return rc;
    UnpackApfPageHeader(raw, pageHeader);
    if (page == pageNo) return 0;
    if (std::fseek(file, static_cast<long>(pageHeader.dataLength), SEEK_CUR) != 0) {
      return IoError();
    }
  }
}

int ReadLineRecord(std::FILE* file, uint8_t* buffer) {
  uint8_t count[2];
  int rc = ReadExactly(file, count, 2);
  if (rc < 0) return rc;
  int n = Get16(count);
  if (n > kApfMaxRecordBytes) n = kApfMaxRecordBytes;
  rc = ReadExactly(file, buffer, static_cast<size_t>(n));
  if (rc < 0) return rc;
  return n;
}

// ---------------------------------------------------------------- writer

ApfWriter::~ApfWriter() {
  if (file_) Abandon();
}

int ApfWriter::Create(const std::string& path) {
  if (file_) Abandon();
  if (path.empty()) return -ecFileNotFound;
  errno = 0;
  file_ = std::fopen(path.c_str(), "wb+");
  if (!file_) return errno ? -FileErrorFromErrno(errno) : -ecAccessDenied;
  std::setvbuf(file_, nullptr, _IOFBF, 4096);
  path_ = path;
  header_ = NewApfFileHeader();
  pageOpen_ = false;
  uint8_t raw[kApfFileHeaderSize];
  PackApfFileHeader(header_, raw);
  const int rc = WriteRaw(raw, sizeof raw);
  if (rc < 0) Abandon();
  return rc;
}

int ApfWriter::WriteRaw(const uint8_t* data, size_t length) {
  if (!file_) return -ecNotOpenOutput;
  errno = 0;
  if (length && std::fwrite(data, 1, length, file_) != length) {
    return errno ? -FileErrorFromErrno(errno) : -ecDiskFull;
  }
  return 0;
}

int ApfWriter::BeginPage(uint16_t pageFlags) {
  if (!file_) return -ecNotOpenOutput;
  pageOpen_ = true;
  pageHeaderWritten_ = false;
  pageFlags_ = pageFlags;
  dataLength_ = 0;
  return 0;
}

int ApfWriter::Write(const uint8_t* data, size_t length) {
  if (!file_ || !pageOpen_) return -ecNotOpenOutput;
  if (!pageHeaderWritten_) {
    pageHeaderOffset_ = std::ftell(file_);
    if (pageHeaderOffset_ < 0) return -FileErrorFromErrno(errno);
    uint8_t raw[kApfPageHeaderSize];
    PackApfPageHeader({0, pageFlags_}, raw);
    const int rc = WriteRaw(raw, sizeof raw);
    if (rc < 0) return rc;
    pageHeaderWritten_ = true;
  }
  const int rc = WriteRaw(data, length);
  if (rc < 0) return rc;
  dataLength_ += static_cast<uint32_t>(length);
  return 0;
}

int ApfWriter::WriteLineRecord(const uint8_t* data, size_t length) {
  if (length > 0xFFFF) return ecBadArgument;
  uint8_t count[2];
  Put16(count, static_cast<uint16_t>(length));
  int rc = Write(count, 2);
  if (rc < 0) return rc;
  return Write(data, length);
}

int ApfWriter::EndPage() {
  if (!file_ || !pageOpen_) return -ecNotOpenOutput;
  pageOpen_ = false;
  if (!pageHeaderWritten_) return 0;  // a page without data is not a page
  const long end = std::ftell(file_);
  if (end < 0) return -FileErrorFromErrno(errno);
  uint8_t raw[kApfPageHeaderSize];
  PackApfPageHeader({dataLength_, pageFlags_}, raw);
  if (std::fseek(file_, pageHeaderOffset_, SEEK_SET) != 0) return -FileErrorFromErrno(errno);
  int rc = WriteRaw(raw, sizeof raw);
  if (rc < 0) return rc;
  if (std::fseek(file_, end, SEEK_SET) != 0) return -FileErrorFromErrno(errno);
  header_.pageCount = static_cast<uint16_t>(header_.pageCount + 1);
  return 0;
}

int ApfWriter::Finish(const std::string& stationId, uint32_t fileTime) {
  if (!file_) return -ecNotOpenOutput;
  int rc = 0;
  if (pageOpen_) rc = EndPage();
  if (rc == 0) {
    const size_t n = stationId.size() > kApfStationIdLength ? kApfStationIdLength : stationId.size();
    header_.stationIdLength = static_cast<uint8_t>(n);
    std::memset(header_.stationId, ' ', kApfStationIdLength);
    std::memcpy(header_.stationId, stationId.data(), n);
    header_.fileTime = fileTime;
    uint8_t raw[kApfFileHeaderSize];
    PackApfFileHeader(header_, raw);
    const long end = std::ftell(file_);
    if (end < 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
      rc = -FileErrorFromErrno(errno);
    } else {
      rc = WriteRaw(raw, sizeof raw);
      if (rc == 0 && std::fseek(file_, end, SEEK_SET) != 0) rc = -FileErrorFromErrno(errno);
    }
  }
  if (rc == 0) {
    errno = 0;
    if (std::fclose(file_) != 0) rc = errno ? -FileErrorFromErrno(errno) : -ecDiskFull;
    file_ = nullptr;
    if (rc < 0) {
      std::error_code ec;
      std::filesystem::remove(path_, ec);
    }
    return rc;
  }
  Abandon();
  return rc;
}

int ApfWriter::Finish(const std::string& stationId) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Finish(stationId, PackDosDateTime(local));
}

void ApfWriter::Abandon() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  pageOpen_ = false;
}

}  // namespace tv
