// Runs one graphics input kind over a fuzzer's bytes: the bytes become a
// file in memory, the input is opened and every line of every page is read,
// at normal and wide line widths.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "images/convert/fax_converter.h"

namespace tv::fuzzing {

using CreateInputFn = int (*)(std::unique_ptr<FaxConvertData>&);

inline void RunGraphicsInput(CreateInputFn create, const uint8_t* data, size_t size) {
  const int fd = memfd_create("fuzz-input", 0);
  if (fd < 0) return;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  for (int pass = 0; pass < 2; ++pass) {
    std::unique_ptr<FaxConvertData> cvt;
    if (create(cvt) != 0) break;
    SetConverterWidth(*cvt, pass == 0 ? 1 : 2);
    SetConverterResolution(*cvt, pass == 1);
    if (pass == 1) ClearConverterOptions(*cvt, coCenterImage);
    cvt->currentPage = 0;
    if (cvt->openInput(*cvt, path) == 0) {
      bool more = true;
      // No input can make more lines than this from a file of this size;
      // reaching the bound means a reader failed to end its page.
      long budget = 200000 + static_cast<long>(size) * 64;
      while (more) {
        ++cvt->currentPage;
        cvt->currentLine = 0;
        for (;;) {
          std::memset(cvt->rasterBuffer.get(), 0, kRasterBufferSize);
          ++cvt->currentLine;
          int len = 0;
          bool endOfPage = false;
          bool morePages = false;
          if (cvt->readLine(*cvt, cvt->rasterBuffer.get(), len, endOfPage, morePages) != 0) {
            more = false;
            break;
          }
          if (len < 0 || len > static_cast<int>(kRasterBufferSize)) __builtin_trap();
          if (endOfPage) {
            more = morePages;
            break;
          }
          if (--budget < 0) __builtin_trap();
        }
      }
      cvt->closeInput(*cvt);
    }
  }
  close(fd);
}

}  // namespace tv::fuzzing
