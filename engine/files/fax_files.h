// Reading the pages of an APF file to send, and writing the pages of a
// received fax into a new APF file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tv {

class FaxFileReader {
 public:
  ~FaxFileReader();

  // Adds "." + ext when the name has no extension; an open or read failure
  // gives the I/O code, a file that is not APF -8001.
  int Open(const std::string& name, const std::string& ext);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Name() const { return name_; }
  int PageCount() const { return pageCount_; }

  // Positions the file at page n's first data byte (n counted from 1);
  // n = 0 or n above the page count gives -100.
  int SeekPage(int n);
  // Back to the first data byte of the current page.
  int RewindPage();

  uint32_t PageLength() const { return pageLength_; }
  uint16_t PageFlags() const { return pageFlags_; }
  bool LineRecords() const { return (pageFlags_ & 4) != 0; }
  bool AtPageEnd() const { return consumed_ >= pageLength_; }

  // The next block of the current page: a line record padded with zero
  // bytes to minimumBytes, or up to 4096 bytes of a raw page. `counted`
  // receives what the block adds to the bytes transferred (a record's
  // length plus 2).
  int ReadBlock(std::vector<uint8_t>& block, int minimumBytes, long& counted);

 private:
  std::FILE* file_ = nullptr;
  std::string name_;
  int pageCount_ = 0;
  uint32_t firstPageOffset_ = 64;
  long pageStart_ = 0;
  uint32_t pageLength_ = 0;
  uint16_t pageFlags_ = 0;
  uint32_t consumed_ = 0;
};

class FaxFileWriter {
 public:
  ~FaxFileWriter();

  // Creates (or overwrites) the file and writes its header; the remote id
  // goes into the header, blank-padded to 20 characters.
  int Create(const std::string& path, const std::string& remoteId);
  // Completes an open page and closes the file.
  int Close();
  bool IsOpen() const { return file_ != nullptr; }
  bool PageOpen() const { return pageOpen_; }
  const std::string& Name() const { return name_; }
  int PageCount() const { return pageCount_; }
  long PageBytes() const { return pageBytes_; }

  int StartPage(bool fine, bool wide);
  int StoreByte(uint8_t byte);
  // Writes the buffer, counts the page, rewrites both headers.
  int FinishPage(const std::string& remoteId);
  // Removes the page being received (or, with no page open, the last
  // finished one): the file is cut at the start of that page's header and
  // the page is not counted, so that a page sent again takes its place.
  // Each page can be dropped once; a second call finds nothing to drop.
  int DropPage();
  bool CanDropPage() const { return file_ && (pageOpen_ || lastPageOffset_ >= 0); }

 private:
  int WriteAt(long offset, const uint8_t* data, size_t size);

  std::FILE* file_ = nullptr;
  std::string name_;
  int pageCount_ = 0;
  bool pageOpen_ = false;
  long pageHeaderOffset_ = 0;
  long lastPageOffset_ = -1;
  uint16_t pageFlags_ = 0;
  long pageBytes_ = 0;
  std::string remoteId_;
  std::vector<uint8_t> buffer_;
};

}  // namespace tv
