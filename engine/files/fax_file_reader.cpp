#include "engine/files/fax_files.h"

#include <cerrno>
#include <filesystem>

#include "engine/files/apf_layout.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {
constexpr uint32_t kBlockSize = 4096;
}

FaxFileReader::~FaxFileReader() { Close(); }

void FaxFileReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

int FaxFileReader::Open(const std::string& name, const std::string& ext) {
  Close();
  name_ = name;
  if (!std::filesystem::path(name_).has_extension()) name_ += "." + ext;
  file_ = std::fopen(name_.c_str(), "rb");
  if (!file_) return FileErrorFromErrno(errno);
  uint8_t header[kApfFileHeaderSize];
  if (std::fread(header, 1, sizeof header, file_) != sizeof header) {
    Close();
    return ecReadBeyondEOF;
  }
  ApfHeaderFields fields = ParseApfFileHeader(header);
  if (!fields.signatureOk) {
    Close();
    return ecBadFaxFormat;
  }
  pageCount_ = fields.pageCount;
  firstPageOffset_ = fields.firstPageOffset;
  return ecOK;
}

int FaxFileReader::SeekPage(int n) {
  if (!file_) return ecNotOpen;
  if (n <= 0 || n > pageCount_) return -ecReadBeyondEOF;
  long offset = firstPageOffset_;
  for (int page = 1;; ++page) {
    if (std::fseek(file_, offset, SEEK_SET) != 0) return -ecSeekError;
    uint8_t header[kApfPageHeaderSize];
    if (std::fread(header, 1, sizeof header, file_) != sizeof header) return -ecReadBeyondEOF;
    ParseApfPageHeader(header, pageLength_, pageFlags_);
    offset += kApfPageHeaderSize;
    if (page == n) break;
    offset += pageLength_;
  }
  pageStart_ = offset;
  consumed_ = 0;
  return ecOK;
}

int FaxFileReader::RewindPage() {
  if (!file_) return ecNotOpen;
  if (std::fseek(file_, pageStart_, SEEK_SET) != 0) return -ecSeekError;
  consumed_ = 0;
  return ecOK;
}

int FaxFileReader::ReadBlock(std::vector<uint8_t>& block, int minimumBytes, long& counted) {
  block.clear();
  counted = 0;
  if (!file_) return ecNotOpen;
  if (consumed_ >= pageLength_) return ecOK;
  if (LineRecords()) {
    uint8_t count[2];
    if (std::fread(count, 1, 2, file_) != 2) return -ecReadBeyondEOF;
    uint32_t length = count[0] | (count[1] << 8);
    if (length > kBlockSize) length = kBlockSize;
    block.resize(length);
    if (length && std::fread(block.data(), 1, length, file_) != length) return -ecReadBeyondEOF;
    consumed_ += length + 2;
    counted = length + 2;
    if (static_cast<int>(block.size()) < minimumBytes) block.resize(minimumBytes, 0);
    return ecOK;
  }
  uint32_t length = std::min(kBlockSize, pageLength_ - consumed_);
  block.resize(length);
  if (std::fread(block.data(), 1, length, file_) != length) return -ecReadBeyondEOF;
  consumed_ += length;
  counted = length;
  return ecOK;
}

}  // namespace tv
