#include "images/text/fax_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr const char kTextExtension[] = "TXT";

constexpr char kFormFeed = 12;

// Code page 1252 characters of the codes 128..159 (0 where it has none).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char CodeForCodePoint(uint32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  if (cp == 0xA0) return ' ';
  if (cp >= 0xA0 && cp <= 0xFF) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return static_cast<char>(128 + i);
  }
  return '?';
}

// Decodes UTF-8; false when raw is not valid UTF-8 or is plain ASCII.
bool DecodeUtf8(std::string_view raw, std::string& out) {
  bool multiByte = false;
  out.clear();
  size_t i = 0;
  while (i < raw.size()) {
    const auto b = static_cast<unsigned char>(raw[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    int extra;
    uint32_t cp;
    if ((b & 0xE0) == 0xC0) {
      extra = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(extra) >= raw.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(raw[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    out.push_back(CodeForCodePoint(cp));
    multiByte = true;
    i += 1 + extra;
  }
  return multiByte;
}

// Reads one line of the file (up to LF, CR or CR LF, which are consumed).
// Keeps at most keep bytes in out; consumed counts every byte taken from the
// file including the line end. Returns 0 or a negative I/O error.
int ReadRawLine(std::FILE* f, std::string& out, size_t keep, int64_t& consumed) {
  out.clear();
  consumed = 0;
  for (;;) {
    const int c = std::getc(f);
    if (c == EOF) break;
    ++consumed;
    if (c == '\n') break;
    if (c == '\r') {
      const int next = std::getc(f);
      if (next == '\n') {
        ++consumed;
      } else if (next != EOF) {
        std::ungetc(next, f);
      }
      break;
    }
    if (out.size() < keep) out.push_back(static_cast<char>(c));
  }
  if (std::ferror(f)) return -FileErrorFromErrno(errno ? errno : EIO);
  return 0;
}

bool AtEnd(std::FILE* f) {
  const int c = std::getc(f);
  if (c == EOF) return true;
  std::ungetc(c, f);
  return false;
}

void CloseTextFile(FaxTextData& text) {
  if (text.file != nullptr) {
    std::fclose(text.file);
    text.file = nullptr;
  }
}

int TextOpen(FaxConvertData& cvt, const std::string& inputName) {
  FaxTextData* text = TextDataOf(cvt);
  if (text == nullptr) return ecBadArgument;
  CloseTextFile(*text);
  text->pageLineCount = 0;
  text->glyphRow = 0;
  text->lineText.clear();
  text->pendingText.clear();
  text->pendingFlag = false;
  if (!text->fontLoaded) {
    const int rc = LoadFaxFont(*text, kFontHeightStandard, cvt.highRes);
    if (rc != 0) return rc;
  }
  errno = 0;
  std::FILE* f = std::fopen(inputName.c_str(), "rb");
  if (f == nullptr) return -FileErrorFromErrno(errno ? errno : ENOENT);
  std::setvbuf(f, text->fileBuffer.get(), _IOFBF, kTextFileBufferSize);
  struct stat st{};
  if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    std::fclose(f);
    return -FileErrorFromErrno(err);
  }
  text->file = f;
  cvt.bytesRead = 0;
  cvt.bytesTotal = st.st_size;
  return 0;
}

int TextReadLine(FaxConvertData& cvt, uint8_t* data, int& len, bool& endOfPage,
                 bool& morePages) {
  FaxTextData* text = TextDataOf(cvt);
  if (text == nullptr || text->file == nullptr) return ecBadArgument;
  len = 0;
  endOfPage = false;
  morePages = true;

  if (text->glyphRow == 0) {
    if (!text->pendingFlag && AtEnd(text->file)) {
      if (std::ferror(text->file)) return -FileErrorFromErrno(errno ? errno : EIO);
      if (cvt.currentLine == 1) {
        // An empty text still gives one page with one blank line.
        morePages = false;
        return 0;
      }
      endOfPage = true;
      morePages = false;
      return 0;
    }

    std::string line;
    bool afterFormFeed = false;
    if (text->pendingFlag && cvt.currentLine == 1 && text->pageLineCount == 0 &&
        cvt.currentPage > 1) {
      // Two form feeds in a row: the page between them gets one blank text
      // line instead of no lines at all.
      text->lineText.clear();
      text->glyphRow = 1;
      text->pageLineCount = 1;
    } else if (text->pendingFlag) {
      line = std::move(text->pendingText);
      text->pendingText.clear();
      text->pendingFlag = false;
      afterFormFeed = true;
    } else {
      std::string raw;
      int64_t consumed = 0;
      // Room for 144 characters of UTF-8.
      const int rc = ReadRawLine(text->file, raw, kMaxTextLine * 4, consumed);
      if (rc != 0) return rc;
      if (raw.size() == kMaxTextLine * 4) {
        // Cut at a character boundary so that a UTF-8 line stays valid.
        size_t end = raw.size();
        for (int k = 0; k < 3 && end > 0 &&
                        (static_cast<unsigned char>(raw[end - 1]) & 0xC0) == 0x80;
             ++k) {
          --end;
        }
        if (end > 0 && static_cast<unsigned char>(raw[end - 1]) >= 0xC0) --end;
        raw.resize(end);
      }
      line = TextLineToFontCodes(raw);
      if (line.size() > kMaxTextLine) line.resize(kMaxTextLine);
      cvt.bytesRead += consumed;
      if (cvt.bytesRead > cvt.bytesTotal) cvt.bytesRead = cvt.bytesTotal;
    }

    if (text->glyphRow == 0) {  // not the blank line between two form feeds
    const size_t ff = line.find(kFormFeed);
    if (ff != std::string::npos) {
      text->pendingText = line.substr(ff + 1);
      text->pendingFlag = true;
      line.resize(ff);
    }

    text->glyphRow = 1;
    const int cell = text->metrics.cellWidth;
    const int fit = cvt.lineWidth / cell - cvt.leftMargin / cell;
    text->lineText = ExpandTabs(line, text->tabStop, fit > 0 ? static_cast<size_t>(fit) : 0);

    text->pageLineCount += 1;
    if (afterFormFeed) {
      // The form feed ended the page; its text (if any) opens the next one.
      endOfPage = true;
      morePages = !AtEnd(text->file) || text->pendingFlag;
      if (line.empty()) {
        text->glyphRow = 0;
        text->pageLineCount = 0;
      } else {
        text->pageLineCount = 1;
        morePages = true;
      }
      return 0;
    }
    if (text->linesPerPage != 0 && text->pageLineCount > text->linesPerPage) {
      // This line opens the next page.
      text->pageLineCount = 1;
      endOfPage = true;
      morePages = true;
      return 0;
    }
    }
  }

  const size_t chars = text->lineText.size();
  len = static_cast<int>((chars * text->metrics.cellWidth + 7) / 8);
  RenderTextRow(*text, text->lineText, text->glyphRow, data, kRasterBufferSize);
  text->glyphRow += 1;
  if (text->glyphRow > text->metrics.rows) text->glyphRow = 0;
  return 0;
}

void TextClose(FaxConvertData& cvt) {
  FaxTextData* text = TextDataOf(cvt);
  if (text != nullptr) CloseTextFile(*text);
}

}  // namespace

FaxTextData::~FaxTextData() {
  if (file != nullptr) std::fclose(file);
}

FaxTextData* TextDataOf(FaxConvertData& cvt) {
  // Only a core whose line reader is the text input holds a FaxTextData.
  using ReadFn = int (*)(FaxConvertData&, uint8_t*, int&, bool&, bool&);
  const ReadFn* fn = cvt.readLine.target<ReadFn>();
  if (cvt.inputData == nullptr || fn == nullptr || *fn != &TextReadLine) return nullptr;
  return InputState<FaxTextData>(cvt);
}

int LoadFaxFont(FaxTextData& text, int heightCode, bool fine) {
  size_t size = 0;
  const uint8_t* resource = FindFaxFontResource(size);
  if (resource == nullptr || size != kFaxFontResourceSize || text.glyphs == nullptr) {
    return ecFontFileNotFound;
  }
  uint8_t* glyphs = text.glyphs.get();
  if (heightCode == kFontHeightStandard) {
    std::memcpy(glyphs, resource + kStandardFontOffset, kStandardFontSize);
    text.metrics = kStandardFontMetrics;
  } else {
    std::memcpy(glyphs, resource + kSmallFontOffset, kSmallFontSize);
    text.metrics = kSmallFontMetrics;
  }
  if (fine) {
    // Every row twice in succession, from glyph 255 down so that the
    // expansion works in place.
    const int bpg = text.metrics.bytesPerGlyph;
    const int bpr = text.metrics.bytesPerRow;
    const int rows = text.metrics.rows;
    for (int g = 255; g >= 0; --g) {
      const uint8_t* src = glyphs + g * bpg;
      uint8_t* dst = glyphs + g * bpg * 2;
      for (int r = rows - 1; r >= 0; --r) {
        std::memmove(dst + (2 * r + 1) * bpr, src + r * bpr, bpr);
        std::memmove(dst + 2 * r * bpr, src + r * bpr, bpr);
      }
    }
    text.metrics.bytesPerGlyph = static_cast<uint8_t>(bpg * 2);
    text.metrics.rows = static_cast<uint8_t>(rows * 2);
  }
  text.fontLoaded = true;
  return 0;
}

int LoadFaxFont(FaxConvertData& cvt, const std::string& /*fontFile*/, int heightCode,
                bool fine) {
  FaxTextData* text = TextDataOf(cvt);
  if (text == nullptr) return ecBadArgument;
  return LoadFaxFont(*text, heightCode, fine);
}

void RenderTextRow(const FaxTextData& text, std::string_view chars, int row,
                   uint8_t* rasterLine, size_t lineBytes) {
  if (!text.fontLoaded || row < 1 || row > text.metrics.rows) return;
  const int bpg = text.metrics.bytesPerGlyph;
  const int bpr = text.metrics.bytesPerRow;
  const size_t cell = text.metrics.cellWidth;
  const size_t lineBits = lineBytes * 8;
  size_t bitPos = 0;
  for (const char ch : chars) {
    if (bitPos + cell > lineBits) break;
    const uint8_t* src = text.glyphs.get() + static_cast<unsigned char>(ch) * bpg + (row - 1) * bpr;
    const unsigned shift = bitPos & 7;
    size_t index = bitPos >> 3;
    for (int b = 0; b < bpr; ++b, ++index) {
      const uint8_t v = src[b];
      if (v == 0) continue;
      if (index < lineBytes) rasterLine[index] |= static_cast<uint8_t>(v >> shift);
      if (shift != 0 && index + 1 < lineBytes) {
        rasterLine[index + 1] |= static_cast<uint8_t>(v << (8 - shift));
      }
    }
    bitPos += cell;
  }
}

void RenderTextRow(FaxConvertData& cvt, std::string_view text, int row, uint8_t* rasterLine,
                   size_t lineBytes) {
  const FaxTextData* data = TextDataOf(cvt);
  if (data != nullptr) RenderTextRow(*data, text, row, rasterLine, lineBytes);
}

int CreateTextConverter(std::unique_ptr<FaxConvertData>& out) {
  std::shared_ptr<FaxTextData> text(new (std::nothrow) FaxTextData);
  if (text == nullptr) return -ecOutOfMemory;
  text->glyphs.reset(new (std::nothrow) uint8_t[kFaxGlyphAreaSize]());
  text->fileBuffer.reset(new (std::nothrow) char[kTextFileBufferSize]);
  if (text->glyphs == nullptr || text->fileBuffer == nullptr) return -ecOutOfMemory;
  return CreateFaxConverter(out, text, FaxInputKind{TextOpen, TextReadLine, TextClose},
                            kTextExtension);
}

void SetTextTabStop(FaxConvertData& cvt, unsigned tabStop) {
  FaxTextData* text = TextDataOf(cvt);
  if (text != nullptr && tabStop != 0) {
    text->tabStop = static_cast<uint16_t>(tabStop > 0xFFFF ? 0xFFFF : tabStop);
  }
}

void SetTextLinesPerPage(FaxConvertData& cvt, unsigned linesPerPage) {
  FaxTextData* text = TextDataOf(cvt);
  if (text != nullptr) {
    text->linesPerPage = static_cast<uint16_t>(linesPerPage > 0xFFFF ? 0xFFFF : linesPerPage);
  }
}

std::string ExpandTabs(std::string_view line, unsigned tabStop, size_t maxChars) {
  if (tabStop == 0) tabStop = 1;
  std::string out;
  out.reserve(maxChars < kMaxTextLine ? maxChars : kMaxTextLine);
  for (const char c : line) {
    if (out.size() >= maxChars) break;
    if (c == '\t') {
      const size_t next = (out.size() / tabStop + 1) * tabStop;
      out.append((next < maxChars ? next : maxChars) - out.size(), ' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string TextLineToFontCodes(std::string_view raw) {
  std::string decoded;
  if (DecodeUtf8(raw, decoded)) return decoded;
  return std::string(raw);
}

}  // namespace tv
