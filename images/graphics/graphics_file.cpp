#include "images/graphics/graphics_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/core/error_codes.h"

namespace tv {

GraphicsFile::~GraphicsFile() { Close(); }

int GraphicsFile::Open(const std::string& path) {
  Close();
  buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
  if (buffer_ == nullptr) return -ecOutOfMemory;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -FileErrorFromErrno(errno);
  struct stat st{};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return -FileErrorFromErrno(err);
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  pos_ = 0;
  bufStart_ = 0;
  bufLen_ = 0;
  error_ = 0;
  return 0;
}

void GraphicsFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  bufLen_ = 0;
}

int GraphicsFile::Fill() {
  bufStart_ = pos_;
  bufLen_ = 0;
  if (pos_ >= size_) return 0;
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer_.get(), kBufferSize, static_cast<off_t>(pos_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return error_ = -FileErrorFromErrno(errno);
    bufLen_ = static_cast<size_t>(n);
    return 0;
  }
}

int GraphicsFile::Read(void* out, size_t n, size_t& got) {
  got = 0;
  if (fd_ < 0) return -ecNotOpenInput;
  auto* dst = static_cast<uint8_t*>(out);
  while (got < n) {
    if (pos_ < bufStart_ || pos_ >= bufStart_ + bufLen_) {
      if (n - got >= kBufferSize && pos_ < size_) {
        // Large blocks go straight into the caller's memory.
        const ssize_t r = ::pread(fd_, dst + got, n - got, static_cast<off_t>(pos_));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return error_ = -FileErrorFromErrno(errno);
        if (r == 0) return 0;
        got += static_cast<size_t>(r);
        pos_ += static_cast<uint64_t>(r);
        continue;
      }
      const int rc = Fill();
      if (rc != 0) return rc;
      if (bufLen_ == 0) return 0;
    }
    const size_t at = static_cast<size_t>(pos_ - bufStart_);
    size_t take = bufLen_ - at;
    if (take > n - got) take = n - got;
    std::memcpy(dst + got, buffer_.get() + at, take);
    got += take;
    pos_ += take;
  }
  return 0;
}

int GraphicsFile::ReadExact(void* out, size_t n, int shortResult) {
  size_t got = 0;
  const int rc = Read(out, n, got);
  if (rc != 0) return rc;
  return got == n ? 0 : shortResult;
}

bool GraphicsFile::ReadByte(uint8_t& b) {
  if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) {
    b = buffer_[pos_ - bufStart_];
    ++pos_;
    return true;
  }
  size_t got = 0;
  return Read(&b, 1, got) == 0 && got == 1;
}

}  // namespace tv
