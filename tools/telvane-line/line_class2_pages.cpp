#include "tools/telvane-line/line_class2_pages.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>

namespace tv::line {

namespace {

void QuietTiff(const char*, const char*, va_list) {}

// Silences libtiff while a page is read or written: a damaged row in the
// program's data is expected and handled, not worth a message.
class TQuietTiff {
 public:
  TQuietTiff()
      : warning_(TIFFSetWarningHandler(QuietTiff)), error_(TIFFSetErrorHandler(QuietTiff)) {}
  ~TQuietTiff() {
    TIFFSetWarningHandler(warning_);
    TIFFSetErrorHandler(error_);
  }

 private:
  TIFFErrorHandler warning_;
  TIFFErrorHandler error_;
};

bool Bit(const uint8_t* frame, int len, int n) {
  const int byte = 3 + (n - 1) / 8;
  return byte < len && (frame[byte] >> ((n - 1) % 8) & 1) != 0;
}

int Bits(const uint8_t* frame, int len, int first, int count) {
  int v = 0;
  for (int i = 0; i < count; ++i) v |= Bit(frame, len, first + i) ? 1 << i : 0;
  return v;
}

void SetFaxTags(TIFF* tif, int width, int rows, bool fine, uint16_t fillOrder) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, fillOrder);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, fine ? 196.0f : 98.0f);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows > 0 ? rows : 1));
}

bool WriteRows(const std::string& path, const TTvPageRows& page, uint16_t fillOrder) {
  if (page.rows.empty()) return false;
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return false;
  SetFaxTags(tif, page.width, static_cast<int>(page.rows.size()), page.fine, fillOrder);
  bool ok = true;
  for (size_t r = 0; r < page.rows.size() && ok; ++r) {
    std::vector<uint8_t> row = page.rows[r];
    ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(r), 0) == 1;
  }
  TIFFClose(tif);
  return ok;
}

}  // namespace

std::string FormatParams(const TTvFaxParams& p) {
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d,%d,%d", p.vr, p.br, p.wd, p.ln, p.df, p.ec,
                p.bf, p.st);
  return text;
}

bool ParseParams(const std::string& text, TTvFaxParams* p) {
  int* fields[8] = {&p->vr, &p->br, &p->wd, &p->ln, &p->df, &p->ec, &p->bf, &p->st};
  TTvFaxParams parsed = *p;
  int* out[8] = {&parsed.vr, &parsed.br, &parsed.wd, &parsed.ln,
                 &parsed.df, &parsed.ec, &parsed.bf, &parsed.st};
  size_t field = 0;
  std::string value;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ',';
    if (c == ' ') continue;
    if (c != ',') {
      if (c < '0' || c > '9' || value.size() >= 3) return false;  // no value has more digits
      value += c;
      continue;
    }
    if (field >= 8) return false;
    if (!value.empty()) *out[field] = std::stoi(value);
    value.clear();
    ++field;
  }
  for (int i = 0; i < 8; ++i) *fields[i] = *out[i];
  return true;
}

int PageWidthPixels(int wd) { return wd == 1 ? 2048 : wd == 2 ? 2432 : 1728; }

TTvFaxParams ParamsFromFrame(const uint8_t* frame, int len, bool dcs) {
  TTvFaxParams p;
  // Bits 11 to 14: the modems offered (DIS) or the one chosen (DCS).
  const int rate = Bits(frame, len, 11, 4);
  if (dcs) {
    switch (rate) {
      case 0: p.br = 0; break;
      case 2: p.br = 1; break;
      case 3: case 11: p.br = 2; break;
      case 8: p.br = 5; break;
      case 10: p.br = 4; break;
      default: p.br = 3; break;
    }
  } else {
    p.br = (rate & 8) ? 5 : (rate & 1) ? 3 : (rate & 2) ? 1 : 0;
  }
  p.vr = Bit(frame, len, 15) ? 1 : 0;
  p.df = Bit(frame, len, 16) ? 1 : 0;
  const int width = Bits(frame, len, 17, 2);
  p.wd = width > 2 ? 0 : width;
  // Bits 19 and 20: 0,0 A4; 1,0 A4 and B4; 0,1 unlimited.
  const int length = Bits(frame, len, 19, 2);
  p.ln = length == 0 ? 0 : length == 1 ? 1 : 2;
  // Bits 21 to 23, as T.30 numbers them, to the scan time codes 0 to 7.
  static const int kScanTime[8] = {4, 1, 2, 5, 6, 7, 3, 0};
  p.st = kScanTime[Bits(frame, len, 21, 3)];
  p.ec = Bit(frame, len, 27) ? 1 : 0;
  return p;
}

std::string IdentFromFrame(const uint8_t* frame, int len) {
  std::string id;
  for (int i = len - 1; i >= 3; --i) id += static_cast<char>(frame[i]);
  const size_t first = id.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  const size_t last = id.find_last_not_of(' ');
  return id.substr(first, last - first + 1);
}

int CountCodedRows(const std::vector<uint8_t>& stream, bool lsbFirst) {
  int rows = 0;
  int zeros = 0;
  bool seenEol = false;
  bool code = false;  // a 1 bit since the last EOL
  for (uint8_t byte : stream) {
    for (int i = 0; i < 8; ++i) {
      const bool one = ((lsbFirst ? byte >> i : byte >> (7 - i)) & 1) != 0;
      if (!one) {
        ++zeros;
        continue;
      }
      if (zeros >= 11) {
        if (seenEol && code) ++rows;
        seenEol = true;
        code = false;
      } else {
        code = true;
      }
      zeros = 0;
    }
  }
  if (seenEol && code) ++rows;  // a last row without EOL or RTC after it
  return rows;
}

bool DecodeStreamPage(const std::vector<uint8_t>& stream, int widthPixels, bool fine,
                      const std::string& scratch, TTvPageRows* out, std::string* error) {
  TQuietTiff quiet;
  const int coded = CountCodedRows(stream, true);
  if (coded == 0) {
    *error = "the page holds no coded rows";
    return false;
  }
  // The stream as it came, in a TIFF of its own, so that libtiff decodes it.
  TIFF* tif = TIFFOpen(scratch.c_str(), "w");
  if (tif == nullptr) {
    *error = "cannot write " + scratch;
    return false;
  }
  SetFaxTags(tif, widthPixels, coded, fine, FILLORDER_LSB2MSB);
  std::vector<uint8_t> data = stream;
  TIFFWriteRawStrip(tif, 0, data.data(), static_cast<tmsize_t>(data.size()));
  TIFFClose(tif);

  out->width = widthPixels;
  out->fine = fine;
  out->rows.clear();
  tif = TIFFOpen(scratch.c_str(), "r");
  if (tif != nullptr) {
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (int r = 0; r < coded; ++r) {
      if (TIFFReadScanline(tif, row.data(), static_cast<uint32_t>(r), 0) < 0) break;
      out->rows.push_back(row);
    }
    TIFFClose(tif);
  }
  std::error_code ec;
  std::filesystem::remove(scratch, ec);
  if (out->rows.empty()) {
    *error = "no row of the page could be decoded";
    return false;
  }
  return true;
}

bool WriteTiffPages(const std::string& path, const std::vector<const TTvPageRows*>& pages) {
  TQuietTiff quiet;
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return false;
  bool ok = true;
  for (size_t p = 0; p < pages.size() && ok; ++p) {
    const TTvPageRows& page = *pages[p];
    SetFaxTags(tif, page.width, static_cast<int>(page.rows.size()), page.fine, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p),
                 static_cast<uint16_t>(pages.size()));
    for (size_t r = 0; r < page.rows.size() && ok; ++r) {
      std::vector<uint8_t> row = page.rows[r];
      ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(r), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif) == 1;
  }
  TIFFClose(tif);
  return ok;
}

bool ReadTiffPage(const std::string& path, int page, TTvPageRows* out) {
  TQuietTiff quiet;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return false;
  bool ok = TIFFSetDirectory(tif, static_cast<tdir_t>(page)) == 1;
  if (ok) {
    uint32_t width = 0, length = 0;
    float yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres)) yres = 98;
    if (unit == RESUNIT_CENTIMETER) yres *= 2.54f;
    out->width = static_cast<int>(width);
    out->fine = yres > 150;
    out->rows.assign(length, std::vector<uint8_t>((width + 7) / 8));
    for (uint32_t r = 0; r < length && ok; ++r) {
      ok = TIFFReadScanline(tif, out->rows[r].data(), r, 0) >= 0;
    }
  }
  TIFFClose(tif);
  return ok;
}

std::vector<uint8_t> EncodePage(const TTvPageRows& page, bool lsbFirst, bool rtc,
                                const std::string& scratch) {
  std::vector<uint8_t> coded;
  if (!page.rows.empty()) {
    TQuietTiff quiet;
    if (!WriteRows(scratch, page, FILLORDER_MSB2LSB)) return {};
    TIFF* tif = TIFFOpen(scratch.c_str(), "r");
    if (tif == nullptr) return {};
    const tmsize_t size = TIFFRawStripSize(tif, 0);
    if (size > 0) {
      coded.resize(static_cast<size_t>(size));
      const tmsize_t got = TIFFReadRawStrip(tif, 0, coded.data(), size);
      coded.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    TIFFClose(tif);
    std::error_code ec;
    std::filesystem::remove(scratch, ec);
  }
  // libtiff puts an EOL before each row but no RTC after the last: add six
  // EOLs, then fill the last byte with zeros.
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0;
  auto put = [&](int bit) {
    acc = acc << 1 | static_cast<uint32_t>(bit);
    if (++bits == 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc = 0;
      bits = 0;
    }
  };
  // The zero bits that fill the last byte count as fill before the first
  // EOL of RTC, which T.4 allows.
  for (size_t i = 0; i < coded.size() * 8; ++i) put(coded[i / 8] >> (7 - i % 8) & 1);
  for (int e = 0; rtc && e < 6; ++e) {
    for (int z = 0; z < 11; ++z) put(0);
    put(1);
  }
  while (bits != 0) put(0);
  if (lsbFirst) {
    for (uint8_t& b : out) {
      uint8_t r = 0;
      for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i & 1) << (7 - i)));
      b = r;
    }
  }
  return out;
}

}  // namespace tv::line
