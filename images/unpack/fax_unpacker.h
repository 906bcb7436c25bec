// The decoding core of the unpacker: decodes one page of an APF file into
// raster lines (bit 7 of byte 0 the leftmost pixel, 1 = black unless
// `invert`), with blank-line compression, adaptation of normal-resolution
// pages (double height or half width), and page bitmaps with stretching.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "images/apf/apf_file.h"
#include "images/bitmap/mono_bitmap.h"
#include "images/t4/t4_decoder.h"

namespace tv {

// FaxUnpackData::flags.
enum : uint16_t {
  ufYield = 1,         // let the caller's event loop run while decoding
  ufDoubleHeight = 2,  // normal-resolution lines are passed twice
  ufHalfWidth = 4,     // normal-resolution lines are halved in width
  ufAbort = 8,         // ends the decoding in progress after the current byte
};
constexpr uint16_t kDefaultUnpackFlags = ufYield | ufDoubleHeight;  // 3

// What a line callback receives.
enum : unsigned {
  ulData = 0,   // a line: data, len bytes (0 = a blank line)
  ulStart = 1,  // a page starts (no data)
  ulEnd = 2,    // the page is complete (no data)
};

struct FaxUnpackData;

// Receives every line and the start and end of a page. Returns 0, or a
// negative code that ends the decoding with that error.
using UnpackLineFn = std::function<int(FaxUnpackData& u, unsigned what, const uint8_t* data,
                                       int len, int pageNo)>;
// Progress: file name, page, bytes unpacked, bytes to unpack.
using UnpackStatusFn = std::function<void(FaxUnpackData& u, const std::string& fileName,
                                          int pageNo, int64_t bytesUnpacked,
                                          int64_t bytesToUnpack)>;
// Runs the caller's event loop once: 0, or ecGotQuitMsg.
using UnpackYieldFn = std::function<int()>;

struct FaxUnpackData {
  int pageNo = 0;
  uint16_t flags = kDefaultUnpackFlags;
  int linesDone = 0;  // lines passed on (or held back as blank) on this page
  int badCodes = 0;   // bit patterns that were no code
  int whitespaceFrom = 0;
  int whitespaceTo = 0;
  int blankRun = 0;
  int64_t bytesToUnpack = 0;
  int64_t bytesUnpacked = 0;
  UnpackLineFn lineCallback;
  UnpackStatusFn statusCallback;
  UnpackYieldFn yield;
  void* owner = nullptr;
  int horizMult = 1, horizDiv = 1, vertMult = 1, vertDiv = 1;
  bool invert = false;  // lines are inverted before they are passed on
  ApfFileHeader fileHeader;
  ApfPageHeader pageHeader;

  // Buffers, allocated once with the core.
  std::unique_ptr<uint8_t[]> inputBuffer;  // 4096 bytes
  std::unique_ptr<uint8_t[]> workLine;     // 512 bytes: a line being adapted
  t4::T4Decoder decoder;
};

// Allocates the core: flags 3, stretch ratios 1. Returns 0 or -8.
int CreateFaxUnpacker(std::unique_ptr<FaxUnpackData>& out, void* owner, UnpackLineFn lineCallback);

// Setting ufDoubleHeight or ufHalfWidth clears the other; asking for both
// at once is ignored.
void SetUnpackerFlags(FaxUnpackData& u, uint16_t flags);
void ClearUnpackerFlags(FaxUnpackData& u, uint16_t flags);
bool UnpackerHasFlags(const FaxUnpackData& u, uint16_t flags);

// A run of at least `from` blank lines becomes `to`. From < To, or From = 0
// with To != 0, gives ecBadArgument; both 0 switches it off.
int SetWhitespace(FaxUnpackData& u, int from, int to);
// Bitmap stretch ratios; 0 counts as 1.
void SetStretch(FaxUnpackData& u, int horizMult, int horizDiv, int vertMult, int vertDiv);

// Decodes page pageNo (from 1), passing lines to lineCallback. 0 or a
// negative code (-2 empty name, -8001 not an APF file or no such page or raw
// data ending early, negated file-layer codes, -1003 quit while yielding).
int DecodeFaxPage(FaxUnpackData& u, const std::string& fileName, int pageNo);
// The same on a file that is already open (the file stays open).
int DecodeFaxPage(FaxUnpackData& u, std::FILE* file, const std::string& fileName, int pageNo);

// Decodes a page into a bitmap (1 = black, see mono_bitmap.h), trimmed to
// its used width (an even number of bytes) and stretched by the ratios. An
// all-white page gives an empty bitmap (width and height 0).
int UnpackPageToBitmap(FaxUnpackData& u, const std::string& fileName, int pageNo,
                       MonoBitmap& out);
int UnpackPageToBitmap(FaxUnpackData& u, std::FILE* file, const std::string& fileName,
                       int pageNo, MonoBitmap& out);

// Stretches a bitmap to width x height; a black source pixel wins wherever
// several merge. Returns an empty bitmap for a zero size.
MonoBitmap StretchBitmap(const MonoBitmap& src, int width, int height);

}  // namespace tv
