// A read-only file with an 8192-byte buffer, positioned reads and the file
// size; the graphics readers take all their input through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tv {

class GraphicsFile {
 public:
  static constexpr size_t kBufferSize = 8192;

  GraphicsFile() = default;
  ~GraphicsFile();
  GraphicsFile(const GraphicsFile&) = delete;
  GraphicsFile& operator=(const GraphicsFile&) = delete;

  // Opens path for reading. Returns 0 or the negated I/O error.
  int Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  uint64_t Size() const { return size_; }
  uint64_t Tell() const { return pos_; }
  void Seek(uint64_t pos) { pos_ = pos; }
  void Skip(uint64_t n) { pos_ += n; }

  // Reads up to n bytes at the current position; got tells how many (fewer
  // only at the end of the file). Returns 0 or the negated I/O error.
  int Read(void* out, size_t n, size_t& got);
  // Reads exactly n bytes; the end of the file first gives `shortResult`.
  int ReadExact(void* out, size_t n, int shortResult);
  // Reads one byte; returns false at the end of the file or on an error
  // (error() then tells which).
  bool ReadByte(uint8_t& b);
  int error() const { return error_; }

 private:
  int Fill();

  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t bufStart_ = 0;  // file offset of buffer_[0]
  size_t bufLen_ = 0;
  int error_ = 0;
};

}  // namespace tv
