#include "images/convert/fax_converter.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "images/apf/apf_file.h"
#include "images/t4/t4_codes.h"
#include "platform/core/error_codes.h"

namespace tv {

namespace {

// Room behind the code buffer for the three-byte OR of the last code.
constexpr size_t kCodeSlack = 8;

constexpr uint8_t kEndOfPageBlock[kEndOfPageLength] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                                       0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

inline void AddCode(FaxConvertData& cvt, uint32_t bits, int length) {
  uint8_t* p = cvt.codeBuffer.get() + cvt.bytePos;
  const uint32_t v = bits << cvt.bitPos;
  p[0] |= static_cast<uint8_t>(v);
  p[1] |= static_cast<uint8_t>(v >> 8);
  p[2] |= static_cast<uint8_t>(v >> 16);
  const int pos = cvt.bitPos + length;
  cvt.bytePos += pos >> 3;
  cvt.bitPos = pos & 7;
}

inline void AddRun(FaxConvertData& cvt, const t4::PackedTables& t, int colour, int n) {
  while (n > t4::kMaxMakeUpRun) {
    const t4::PackedCode& c = t.makeUp[colour][39];
    AddCode(cvt, c.bits, c.length);
    n -= t4::kMaxMakeUpRun;
  }
  if (n >= 64) {
    const t4::PackedCode& c = t.makeUp[colour][n / 64 - 1];
    AddCode(cvt, c.bits, c.length);
    n &= 63;
  }
  const t4::PackedCode& c = t.terminating[colour][n];
  AddCode(cvt, c.bits, c.length);
}

// Big-endian load of up to 8 bytes of the line starting at byte b, the
// bytes beyond `nbytes` read as 0.
inline uint64_t Load64(const uint8_t* line, int b, int nbytes) {
  if (b + 8 <= nbytes) {
    uint64_t v;
    std::memcpy(&v, line + b, 8);
    return __builtin_bswap64(v);
  }
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) {
    v <<= 8;
    if (b + i < nbytes) v |= line[b + i];
  }
  return v;
}

// The first pixel at or after pos (up to limit) whose colour differs from
// `black`; limit when there is none.
inline int NextChange(const uint8_t* line, int nbytes, int pos, int limit, bool black) {
  while (pos < limit) {
    const int b = pos >> 3;
    uint64_t w = Load64(line, b, nbytes);
    if (black) w = ~w;
    w <<= (pos & 7);  // pixels before pos leave the word
    // Keep the part of the word that lies at or after pos: 64 - (pos & 7)
    // meaningful bits.
    const int valid = 64 - (pos & 7);
    if (w != 0) {
      const int lead = __builtin_clzll(w);
      if (lead < valid) return std::min(limit, pos + lead);
    }
    pos += valid;
  }
  return limit;
}

bool AllZero(const uint8_t* p, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, p + i, 8);
    if (v) return false;
  }
  for (; i < n; ++i)
    if (p[i]) return false;
  return true;
}

std::string WithExtension(const std::string& name, const std::string& ext) {
  if (ext.empty() || std::filesystem::path(name).has_extension()) return name;
  return name + "." + ext;
}

}  // namespace

int CreateFaxConverter(std::unique_ptr<FaxConvertData>& out, std::shared_ptr<void> inputData,
                       FaxInputKind input, std::string defaultExt) {
  out.reset();
  auto cvt = std::unique_ptr<FaxConvertData>(new (std::nothrow) FaxConvertData);
  if (!cvt) return -ecOutOfMemory;
  cvt->codeBuffer.reset(new (std::nothrow) uint8_t[kCodeBufferSize + kCodeSlack]);
  cvt->rasterBuffer.reset(new (std::nothrow) uint8_t[kRasterBufferSize]);
  if (!cvt->codeBuffer || !cvt->rasterBuffer) return -ecOutOfMemory;
  std::memset(cvt->codeBuffer.get(), 0, kCodeBufferSize + kCodeSlack);
  std::memset(cvt->rasterBuffer.get(), 0, kRasterBufferSize);
  cvt->inputData = std::move(inputData);
  cvt->openInput = std::move(input.openInput);
  cvt->readLine = std::move(input.readLine);
  cvt->closeInput = std::move(input.closeInput);
  cvt->defaultExt = std::move(defaultExt);
  cvt->options = kDefaultConvertOptions;
  cvt->lineWidth = kLineWidthNormal;
  cvt->leftMargin = kDefaultLeftMargin;
  cvt->topMargin = 0;
  out = std::move(cvt);
  return 0;
}

void SetConverterOptions(FaxConvertData& cvt, uint16_t bits) { cvt.options |= bits; }
void ClearConverterOptions(FaxConvertData& cvt, uint16_t bits) {
  cvt.options = static_cast<uint16_t>(cvt.options & ~bits);
}
void SetConverterMargins(FaxConvertData& cvt, int leftPixels, int topLines) {
  cvt.leftMargin = std::max(0, leftPixels);
  cvt.topMargin = std::max(0, topLines);
}
void SetConverterResolution(FaxConvertData& cvt, bool high) { cvt.highRes = high; }
void SetConverterWidth(FaxConvertData& cvt, int widthCode) {
  cvt.lineWidth = widthCode == 2 ? kLineWidthWide : kLineWidthNormal;
}
void SetConverterStationId(FaxConvertData& cvt, const std::string& id) {
  cvt.stationId = id.substr(0, kApfStationIdLength);
}
void SetConverterStatus(FaxConvertData& cvt, FaxConvertStatusFn status) {
  cvt.status = std::move(status);
}
void SetConverterYield(FaxConvertData& cvt, FaxYieldFn yield) { cvt.yield = std::move(yield); }

void PlaceInputImage(FaxConvertData& cvt, int w) {
  const int W = cvt.lineWidth;
  const int M = cvt.leftMargin;
  cvt.doubleWidth = (cvt.options & coDoubleWidth) && !cvt.highRes && W - M >= 2 * w;
  cvt.halfHeight = (cvt.options & coHalfHeight) && !cvt.highRes && !cvt.doubleWidth;
  cvt.centerOffset = 0;
  if ((cvt.options & coCenterImage) && W - w >= 16) {
    cvt.centerOffset = cvt.doubleWidth ? (W - 2 * w) / 32 : (W - w) / 16;
    if (cvt.centerOffset < 0) cvt.centerOffset = 0;
  }
}

int EncodeFaxLine(FaxConvertData& cvt, const uint8_t* line) {
  const t4::PackedTables& t = t4::Packed();
  uint8_t* code = cvt.codeBuffer.get();
  std::memset(code, 0, std::min<size_t>(kCodeBufferSize + kCodeSlack, cvt.usedCodeBytes + 4));
  cvt.bytePos = 0;
  cvt.bitPos = 0;
  code[0] = 0x00;  // byte-aligned EOL: four fill zeros, eleven zeros, a one
  code[1] = 0x80;
  cvt.bytePos = 2;

  const int W = cvt.lineWidth;
  const int M = std::clamp(cvt.leftMargin, 0, W);
  if (AllZero(line, W / 8)) {
    AddRun(cvt, t, 0, W);
  } else if (!cvt.doubleWidth) {
    const int limit = W - M;  // source pixels coded
    const int nbytes = (limit + 7) / 8;
    int pos = 0;
    bool black;
    int run = NextChange(line, nbytes, 0, limit, false);
    // The margin joins the first white run (of length 0 when the line
    // starts black).
    AddRun(cvt, t, 0, M + run);
    pos = run;
    black = true;
    while (pos < limit) {
      const int next = NextChange(line, nbytes, pos, limit, black);
      AddRun(cvt, t, black ? 1 : 0, next - pos);
      pos = next;
      black = !black;
    }
  } else {
    // Every source pixel becomes two; the last run ends the line at W.
    const int limit = (W - M + 1) / 2;
    const int nbytes = (limit + 7) / 8;
    int total = M;
    int pos = 0;
    bool black = false;
    int margin = M;  // joins the first white run
    while (true) {
      const int next = NextChange(line, nbytes, pos, limit, black);
      int out = 2 * (next - pos);
      if (next >= limit || total + out >= W) out = W - total;
      AddRun(cvt, t, black ? 1 : 0, margin + out);
      margin = 0;
      total += out;
      pos = next;
      black = !black;
      if (total >= W) break;
    }
  }
  cvt.bytePos += 2;  // the partial byte and one more zero byte
  cvt.bitPos = 0;
  cvt.usedCodeBytes = cvt.bytePos;
  return cvt.bytePos;
}

int EncodeEndOfPage(FaxConvertData& cvt, uint8_t* out) {
  std::memset(cvt.codeBuffer.get(), 0,
              std::min<size_t>(kCodeBufferSize + kCodeSlack, cvt.usedCodeBytes + 4));
  cvt.usedCodeBytes = 0;
  cvt.bytePos = 0;
  cvt.bitPos = 0;
  std::memcpy(out, kEndOfPageBlock, kEndOfPageLength);
  return kEndOfPageLength;
}

namespace {

// A top-margin blank line: 12-bit EOL at a byte boundary, the white run of
// the full width, zero fill (4 bytes at 1728 pixels, 5 at 2048).
int EncodeBlankLine(FaxConvertData& cvt) {
  const t4::PackedTables& t = t4::Packed();
  std::memset(cvt.codeBuffer.get(), 0,
              std::min<size_t>(kCodeBufferSize + kCodeSlack, cvt.usedCodeBytes + 4));
  cvt.bytePos = 0;
  cvt.bitPos = 0;
  const t4::PackedCode eol{t4::MirrorBits(t4::kEol.value, t4::kEol.length), t4::kEol.length};
  AddCode(cvt, eol.bits, eol.length);
  AddRun(cvt, t, 0, cvt.lineWidth);
  cvt.bytePos += 1;
  cvt.bitPos = 0;
  cvt.usedCodeBytes = cvt.bytePos;
  return cvt.bytePos;
}

class ConversionRun {
 public:
  explicit ConversionRun(FaxConvertData& cvt) : cvt_(cvt) {}

  int Run(const std::string& inputName, const std::string& outputName) {
    cvt_.outputName = ApfOutputName(inputName, outputName);
    int rc = writer_.Create(cvt_.outputName);
    if (rc < 0) return rc;
    cvt_.currentPage = 0;
    cvt_.currentLine = 0;
    cvt_.inputName = WithExtension(inputName, cvt_.defaultExt);
    rc = Pages();
    if (inputOpen_) {
      if (cvt_.closeInput) cvt_.closeInput(cvt_);
      inputOpen_ = false;
    }
    if (rc == 0) rc = writer_.Finish(cvt_.stationId);
    if (rc < 0) writer_.Abandon();
    return rc;
  }

 private:
  int Status(bool starting, bool ending) {
    if (!cvt_.status) return 0;
    bool abort = false;
    cvt_.status(cvt_, starting, ending, abort);
    return abort ? ecConvertAbort : 0;
  }

  int Yield() { return cvt_.yield ? cvt_.yield() : 0; }

  int ReadLine(bool& endOfPage, bool& morePages) {
    cvt_.currentLine += 1;
    int len = 0;
    endOfPage = false;
    if (!cvt_.readLine) {
      endOfPage = true;
      morePages = false;
      return 0;
    }
    const int rc = cvt_.readLine(cvt_, cvt_.rasterBuffer.get(), len, endOfPage, morePages);
    if (rc < 0) return rc;
    return Status(false, false);
  }

  uint16_t PageFlags() const {
    uint16_t f = pfLineRecords;
    if (cvt_.highRes) f |= pfHighRes;
    if (cvt_.lineWidth == kLineWidthWide) f |= pfWide;
    return f;
  }

  int Pages() {
    int rc = Status(true, false);
    if (rc < 0) return rc;
    if (cvt_.openInput) {
      rc = cvt_.openInput(cvt_, cvt_.inputName);
      if (rc < 0) return rc;
    }
    inputOpen_ = true;
    uint8_t* raster = cvt_.rasterBuffer.get();
    uint8_t* code = cvt_.codeBuffer.get();
    bool morePages = true;
    while (morePages) {
      cvt_.currentPage += 1;
      cvt_.currentLine = 0;
      std::memset(code, 0, kCodeBufferSize);
      cvt_.usedCodeBytes = 0;
      if ((rc = writer_.BeginPage(PageFlags())) < 0) return rc;
      for (int i = 0; i < cvt_.topMargin; ++i) {
        const int n = EncodeBlankLine(cvt_);
        if ((rc = writer_.WriteLineRecord(code, n)) < 0) return rc;
      }
      bool endOfPage = false;
      morePages = false;
      std::memset(raster, 0, kRasterBufferSize);
      if ((rc = ReadLine(endOfPage, morePages)) < 0) return rc;
      while (!endOfPage) {
        if (!cvt_.halfHeight || (cvt_.currentLine & 1)) {
          const int n = EncodeFaxLine(cvt_, raster);
          if ((rc = writer_.WriteLineRecord(code, n)) < 0) return rc;
        }
        std::memset(raster, 0, kRasterBufferSize);
        if ((rc = ReadLine(endOfPage, morePages)) < 0) return rc;
        if ((cvt_.options & coYield) && (cvt_.options & coYieldOften) &&
            cvt_.currentLine % 16 == 0) {
          if ((rc = Yield()) < 0) return rc;
        }
      }
      uint8_t eop[kEndOfPageLength];
      const int n = EncodeEndOfPage(cvt_, eop);
      if ((rc = writer_.WriteLineRecord(eop, n)) < 0) return rc;
      if ((rc = writer_.EndPage()) < 0) return rc;
      if (cvt_.options & coYield) {
        if ((rc = Yield()) < 0) return rc;
      }
    }
    return Status(false, true);
  }

  FaxConvertData& cvt_;
  ApfWriter writer_;
  bool inputOpen_ = false;
};

}  // namespace

std::string ApfOutputName(const std::string& inputName, const std::string& outputName) {
  if (!outputName.empty()) return WithExtension(outputName, kApfDefaultExtension);
  std::filesystem::path p(inputName);
  p.replace_extension(kApfDefaultExtension);
  return p.string();
}

int ConvertToApfFile(FaxConvertData& cvt, const std::string& inputName,
                     const std::string& outputName) {
  if (inputName.empty() && outputName.empty()) return -ecFileNotFound;
  ConversionRun run(cvt);
  return run.Run(inputName, outputName);
}

}  // namespace tv
