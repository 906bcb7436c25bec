// Page data and negotiation values of the emulated Class 2 and 2.0 modems.
//
// The modem's T.30 (spandsp) sends only from TIFF files and receives into
// them, while the program speaks T.4 streams and "vr,br,wd,ln,df,ec,bf,st"
// parameter lists. These procedures translate: a page of the program's T.4
// stream becomes a TIFF page, a received TIFF page becomes a T.4 stream in
// either bit order, and a DIS or DCS frame becomes a parameter list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv::line {

// The eight session values of the Class 2 commands and reports.
struct TTvFaxParams {
  int vr = 0;  // 0 normal, 1 fine
  int br = 0;  // 0 2400, 1 4800, 2 7200, 3 9600, 4 12000, 5 14400
  int wd = 0;  // 0 1728, 1 2048, 2 2432 pixels
  int ln = 2;  // 0 A4, 1 B4, 2 unlimited
  int df = 0;  // 0 one-dimensional coding
  int ec = 0;
  int bf = 0;
  int st = 0;  // scan time code
};

std::string FormatParams(const TTvFaxParams& p);
// Reads a parameter list; missing values keep their present value. False when
// a value is not a number.
bool ParseParams(const std::string& text, TTvFaxParams* p);
int PageWidthPixels(int wd);

// A DIS/DTC (dcs false) or DCS (dcs true) frame: address, control, FCF, FIF.
TTvFaxParams ParamsFromFrame(const uint8_t* frame, int len, bool dcs);
// The station id of a CSI or TSI frame (its digits are sent in reverse).
std::string IdentFromFrame(const uint8_t* frame, int len);

// The rows of a one-dimensionally coded stream: the stretches between EOLs
// that hold code. `lsbFirst` says which bit of each byte comes first.
int CountCodedRows(const std::vector<uint8_t>& stream, bool lsbFirst);

// One page of pixel rows, 1 = black, bit 7 of byte 0 leftmost.
struct TTvPageRows {
  int width = 0;
  bool fine = false;
  std::vector<std::vector<uint8_t>> rows;
};

// Decodes one page of the program's stream (first bit in each byte's least
// significant bit) into rows; damaged rows come out as decoded, the rows
// after them from the next EOL on. `scratch` is a
// file the procedure may write. False with a message when no row could be
// decoded.
bool DecodeStreamPage(const std::vector<uint8_t>& stream, int widthPixels, bool fine,
                      const std::string& scratch, TTvPageRows* out, std::string* error);
// Writes pages as a multi-page TIFF file.
bool WriteTiffPages(const std::string& path, const std::vector<const TTvPageRows*>& pages);

// Reads page `page` (0 = first) of a TIFF file. False when it is not there.
bool ReadTiffPage(const std::string& path, int page, TTvPageRows* out);
// Codes rows one-dimensionally, EOL before each row, RTC after the last when
// `rtc`; the last byte is filled with zeros, which count as fill before the
// next EOL, so that parts of a page coded one after another join up.
// `lsbFirst` true gives the stream order (first bit in the least significant
// bit); false gives each byte with its bits reversed. `scratch` is a file the
// procedure may write.
std::vector<uint8_t> EncodePage(const TTvPageRows& page, bool lsbFirst, bool rtc,
                                const std::string& scratch);

}  // namespace tv::line
