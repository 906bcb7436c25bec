#include "engine/files/fax_files.h"

#include <cerrno>
#include <ctime>
#include <unistd.h>

#include "engine/files/apf_layout.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {
constexpr size_t kBufferSize = 4096;
}

FaxFileWriter::~FaxFileWriter() { Close(); }

int FaxFileWriter::Create(const std::string& path, const std::string& remoteId) {
  Close();
  name_ = path;
  file_ = std::fopen(path.c_str(), "w+b");
  if (!file_) return FileErrorFromErrno(errno);
  pageCount_ = 0;
  pageOpen_ = false;
  lastPageOffset_ = -1;
  remoteId_ = remoteId;
  auto header = MakeApfFileHeader(PackFileTime(std::time(nullptr)), remoteId, 0);
  if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) {
    Close();
    return -ecDeviceWriteError;
  }
  return ecOK;
}

int FaxFileWriter::Close() {
  int rc = ecOK;
  if (file_) {
    if (pageOpen_) rc = FinishPage("");
    std::fclose(file_);
  }
  file_ = nullptr;
  return rc;
}

int FaxFileWriter::WriteAt(long offset, const uint8_t* data, size_t size) {
  if (std::fseek(file_, offset, SEEK_SET) != 0) return -ecSeekError;
  if (std::fwrite(data, 1, size, file_) != size) return -ecDeviceWriteError;
  return ecOK;
}

int FaxFileWriter::StartPage(bool fine, bool wide) {
  if (!file_) return ecNotOpen;
  if (pageOpen_) {
    int rc = FinishPage("");
    if (rc != ecOK) return rc;
  }
  if (std::fseek(file_, 0, SEEK_END) != 0) return -ecSeekError;
  pageHeaderOffset_ = std::ftell(file_);
  pageFlags_ = static_cast<uint16_t>((fine ? pfHighRes : 0) | (wide ? pfWide : 0));
  auto header = MakeApfPageHeader(0, pageFlags_);
  if (std::fwrite(header.data(), 1, header.size(), file_) != header.size())
    return -ecDeviceWriteError;
  pageOpen_ = true;
  pageBytes_ = 0;
  buffer_.clear();
  return ecOK;
}

int FaxFileWriter::StoreByte(uint8_t byte) {
  if (!pageOpen_) return ecNotOpen;
  buffer_.push_back(byte);
  ++pageBytes_;
  if (buffer_.size() >= kBufferSize) {
    size_t size = buffer_.size();
    size_t written = std::fwrite(buffer_.data(), 1, size, file_);
    buffer_.clear();
    if (written != size) return -ecDeviceWriteError;
  }
  return ecOK;
}

int FaxFileWriter::FinishPage(const std::string& remoteId) {
  if (!file_ || !pageOpen_) return ecOK;
  size_t size = buffer_.size();
  if (size && std::fwrite(buffer_.data(), 1, size, file_) != size) return -ecDeviceWriteError;
  buffer_.clear();
  pageOpen_ = false;
  ++pageCount_;
  if (!remoteId.empty()) remoteId_ = remoteId;
  auto header = MakeApfFileHeader(PackFileTime(std::time(nullptr)), remoteId_,
                                  static_cast<uint16_t>(pageCount_));
  int rc = WriteAt(0, header.data(), header.size());
  if (rc != ecOK) return rc;
  auto page = MakeApfPageHeader(static_cast<uint32_t>(pageBytes_), pageFlags_);
  rc = WriteAt(pageHeaderOffset_, page.data(), page.size());
  if (rc != ecOK) return rc;
  lastPageOffset_ = pageHeaderOffset_;
  if (std::fseek(file_, 0, SEEK_END) != 0) return -ecSeekError;
  std::fflush(file_);
  return ecOK;
}

int FaxFileWriter::DropPage() {
  if (!file_) return ecNotOpen;
  long cut;
  if (pageOpen_) {
    cut = pageHeaderOffset_;
    buffer_.clear();
    pageOpen_ = false;
    lastPageOffset_ = -1;  // the page before stays: it was not the one refused
  } else {
    if (lastPageOffset_ < 0 || pageCount_ == 0) return ecOK;
    cut = lastPageOffset_;
    --pageCount_;
    lastPageOffset_ = -1;
    auto header = MakeApfFileHeader(PackFileTime(std::time(nullptr)), remoteId_,
                                    static_cast<uint16_t>(pageCount_));
    int rc = WriteAt(0, header.data(), header.size());
    if (rc != ecOK) return rc;
  }
  std::fflush(file_);
  if (ftruncate(fileno(file_), cut) != 0) return -ecDeviceWriteError;
  if (std::fseek(file_, 0, SEEK_END) != 0) return -ecSeekError;
  return ecOK;
}

}  // namespace tv
