// Text rendering with the fax font, and the text input of the converter.
//
// The fax engine draws its page header line and text cover pages with
// LoadFaxFont and RenderTextRow, one call per scan line, each followed by
// EncodeFaxLine. The text input (CreateTextConverter) turns a text file into
// pages: tabs are expanded, lines are cut (never wrapped) to what fits on
// the line, a form feed starts a new page, and linesPerPage (0 = no limit)
// ends a page after that many text lines. Every text line becomes as many
// scan lines as the font has rows (8 or 16; 16 or 32 at fine resolution).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "images/convert/fax_converter.h"
#include "images/font/fax_font.h"

namespace tv {

// Size of the glyph area: 256 standard glyphs at fine resolution.
constexpr size_t kFaxGlyphAreaSize = 24576;
// Text lines keep at most this many characters.
constexpr size_t kMaxTextLine = 144;
// The text file is read through a buffer of this size.
constexpr size_t kTextFileBufferSize = 8192;

// State of text rendering and of the text input; one per converter that
// renders text (the converter's inputData).
struct FaxTextData {
  bool fontLoaded = false;
  std::unique_ptr<uint8_t[]> glyphs;  // kFaxGlyphAreaSize bytes
  std::FILE* file = nullptr;          // the text file while the input is open
  std::unique_ptr<char[]> fileBuffer; // kTextFileBufferSize bytes
  uint16_t tabStop = 4;
  uint16_t linesPerPage = 0;  // 0 = no limit
  FaxFontMetrics metrics;
  int pageLineCount = 0;  // text lines placed on the current page
  int glyphRow = 0;       // next glyph row of lineText (1..rows); 0 = new line needed
  std::string lineText;     // current line after tab expansion and cutting
  std::string pendingText;  // text that followed a form feed
  bool pendingFlag = false; // pendingText waits to be used

  FaxTextData() = default;
  FaxTextData(const FaxTextData&) = delete;
  FaxTextData& operator=(const FaxTextData&) = delete;
  ~FaxTextData();
};

// The text state of a converter made by CreateTextConverter (nullptr for
// any other converter).
FaxTextData* TextDataOf(FaxConvertData& cvt);

// Loads the glyphs of one font size from the FAXFONT resource: height code
// 48 selects the standard font, any other the small font; fine doubles every
// glyph row. The font file name is not used for the glyphs. Returns 0, or
// ecFontFileNotFound when the resource is missing, ecBadArgument when cvt
// has no text state.
int LoadFaxFont(FaxConvertData& cvt, const std::string& fontFile, int heightCode, bool fine);
int LoadFaxFont(FaxTextData& text, int heightCode, bool fine);

// ORs glyph row `row` (1-based) of every character of text into rasterLine,
// character i at pixel i x cell width; a row outside 1..rows renders
// nothing, and so does a call before a font is loaded. Characters that would
// reach past lineBytes bytes are left out.
void RenderTextRow(FaxConvertData& cvt, std::string_view text, int row, uint8_t* rasterLine,
                   size_t lineBytes = kRasterBufferSize);
void RenderTextRow(const FaxTextData& text, std::string_view chars, int row, uint8_t* rasterLine,
                   size_t lineBytes = kRasterBufferSize);

// Creates the converter core with a FaxTextData (tab stop 4, no line limit),
// default extension "TXT" and the text callbacks. Returns 0 or -8.
int CreateTextConverter(std::unique_ptr<FaxConvertData>& out);

// Tab width in characters; 0 leaves it unchanged.
void SetTextTabStop(FaxConvertData& cvt, unsigned tabStop);
// Text lines per page; 0 = no limit.
void SetTextLinesPerPage(FaxConvertData& cvt, unsigned linesPerPage);

// Expands tabs (to the next multiple of tabStop columns) and cuts the result
// to maxChars characters.
std::string ExpandTabs(std::string_view line, unsigned tabStop, size_t maxChars);

// A text line as stored in the file, turned into fax font codes: a line
// that is valid UTF-8 with characters beyond ASCII is mapped to code page
// 1252 ('?' for characters it lacks, a space for a no-break space); any
// other line is taken byte for byte.
std::string TextLineToFontCodes(std::string_view raw);

}  // namespace tv
