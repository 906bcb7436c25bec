// The conversion core: codes raster lines with the T.4 one-dimensional code,
// frames them as line records, paginates and writes APF files.
//
// An input kind (bitmap, user lines, text, graphics files) plugs in by
// creating the core with its own state and three callbacks:
//
//   struct MyInputState { ... };
//   int CreateMyConverter(std::unique_ptr<FaxConvertData>& out) {
//     auto state = std::make_shared<MyInputState>();
//     return CreateFaxConverter(out, state, FaxInputKind{MyOpen, MyReadLine, MyClose}, "EXT");
//   }
//
// and in the callbacks reaching its state with InputState<MyInputState>(cvt).
//
// Raster lines (the raster buffer the core hands to readLine, and the line
// given to EncodeFaxLine): bit 7 of byte 0 is the leftmost pixel, pixels run
// from the most to the least significant bit, a 1 bit is BLACK.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tv {

enum TFaxResolution : int { frNormal = 0, frHigh = 1 };
enum TFaxWidth : int { fwNormal = 0, fwWide = 1 };

// Fax font sizes of the text input.
enum TFaxFont : int { ffSmall = 0, ffStandard = 1 };

enum TFaxInputDocumentType : int {
  idNone = 0,
  idText = 1,
  idTiff = 2,
  idPcx = 3,
  idDcx = 4,
  idBmp = 5,
  idBitmap = 6,
  idUser = 7,
};

// TFaxCvtOptions: bit values as stored in FaxConvertData::options.
enum : uint16_t {
  coDoubleWidth = 1,  // allow doubleWidth for graphics input
  coHalfHeight = 2,   // allow halfHeight for graphics input
  coCenterImage = 4,  // centre graphics input on the line
  coYield = 8,        // yield once per page
  coYieldOften = 16,  // with coYield: also every 16 lines
};
constexpr uint16_t kDefaultConvertOptions = coDoubleWidth | coCenterImage | coYield;  // 13

constexpr int kLineWidthNormal = 1728;
constexpr int kLineWidthWide = 2048;
constexpr int kDefaultLeftMargin = 50;
// Sizes of the code buffer and of the raster buffer handed to readLine.
constexpr size_t kCodeBufferSize = 4096;
constexpr size_t kRasterBufferSize = 4096;
// Length of the end-of-page block that EncodeEndOfPage produces.
constexpr int kEndOfPageLength = 12;

struct FaxConvertData;

// Opens the input named inputName (already given the default extension when
// it had none). Returns 0 or a negative error code.
using FaxOpenInputFn = std::function<int(FaxConvertData& cvt, const std::string& inputName)>;

// Reads one raster line into data (kRasterBufferSize bytes, zeroed by the
// core before each call). Sets len (meaningful bytes, informational),
// endOfPage (this call delivers no line: the page ended before it) and, on
// that call, morePages (another page follows). Returns 0 or a negative code.
using FaxReadLineFn = std::function<int(FaxConvertData& cvt, uint8_t* data, int& len,
                                        bool& endOfPage, bool& morePages)>;

// Closes the input; called once after a successful openInput.
using FaxCloseInputFn = std::function<void(FaxConvertData& cvt)>;

// Progress: starting (once, before the input is opened), ending (once, after
// the last page), or neither (after every line read, with currentPage,
// currentLine, bytesRead, bytesTotal current). Setting abort ends the run
// with ecConvertAbort.
using FaxConvertStatusFn =
    std::function<void(FaxConvertData& cvt, bool starting, bool ending, bool& abort)>;

// Lets the caller's event loop run (coYield / coYieldOften). Returns 0, or
// ecGotQuitMsg when the program is quitting, which ends the run.
using FaxYieldFn = std::function<int()>;

// The three callbacks of an input kind.
struct FaxInputKind {
  FaxOpenInputFn openInput;
  FaxReadLineFn readLine;
  FaxCloseInputFn closeInput;
};

// One conversion's state. Created by an input kind's create operation
// (through CreateFaxConverter), freed after the conversion.
struct FaxConvertData {
  bool highRes = false;      // sets pfHighRes on every page
  bool doubleWidth = false;  // each source pixel becomes two (set by the input on open)
  bool halfHeight = false;   // only every other source line is coded (set on open)
  uint16_t options = kDefaultConvertOptions;
  int bytePos = 0;  // coding position in codeBuffer: byte index...
  int bitPos = 0;   // ...and bit index 0..7
  int lineWidth = kLineWidthNormal;
  int leftMargin = kDefaultLeftMargin;  // white pixels in front of every line
  int topMargin = 0;                    // blank lines at the top of every page
  int currentPage = 0;                  // from 1 during a run
  int currentLine = 0;                  // line reads on the current page, from 1
  int centerOffset = 0;  // byte offset at which an input places its row
  std::shared_ptr<void> inputData;  // the input kind's state
  void* owner = nullptr;            // the component driving the conversion
  int64_t bytesRead = 0;            // progress counters for the status callback
  int64_t bytesTotal = 0;
  // Code buffer (kCodeBufferSize bytes plus slack; after EncodeFaxLine it
  // holds bytePos bytes of the coded-line record body).
  std::unique_ptr<uint8_t[]> codeBuffer;
  std::unique_ptr<uint8_t[]> rasterBuffer;  // kRasterBufferSize bytes
  FaxOpenInputFn openInput;
  FaxReadLineFn readLine;
  FaxCloseInputFn closeInput;
  FaxConvertStatusFn status;
  FaxYieldFn yield;
  std::string defaultExt;  // given to an input name without extension
  std::string inputName;
  std::string outputName;
  std::string stationId;  // at most 20 characters

  // Bytes of the code buffer that the previous line used (cleared lazily).
  int usedCodeBytes = 0;
};

// The input kind's state, as given to CreateFaxConverter.
template <class T>
T* InputState(FaxConvertData& cvt) {
  return static_cast<T*>(cvt.inputData.get());
}

// Allocates the core and both buffers, with options 13, line width 1728,
// left margin 50, top margin 0. Returns 0 or ecOutOfMemory negated (-8).
int CreateFaxConverter(std::unique_ptr<FaxConvertData>& out, std::shared_ptr<void> inputData,
                       FaxInputKind input, std::string defaultExt);

// Setters.
void SetConverterOptions(FaxConvertData& cvt, uint16_t bits);    // sets bits
void ClearConverterOptions(FaxConvertData& cvt, uint16_t bits);  // clears bits
void SetConverterMargins(FaxConvertData& cvt, int leftPixels, int topLines);
void SetConverterResolution(FaxConvertData& cvt, bool high);
// Width code 2 gives 2048 pixels, any other code 1728.
void SetConverterWidth(FaxConvertData& cvt, int widthCode);
void SetConverterStationId(FaxConvertData& cvt, const std::string& id);  // cut to 20
void SetConverterStatus(FaxConvertData& cvt, FaxConvertStatusFn status);
void SetConverterYield(FaxConvertData& cvt, FaxYieldFn yield);

// Common placement of an image of imageWidth pixels, decided when an input
// opens (W = lineWidth, M = leftMargin, w = imageWidth):
//   doubleWidth  := coDoubleWidth set, normal resolution, W - M >= 2w;
//   halfHeight   := coHalfHeight set, normal resolution, not doubleWidth;
//   centerOffset := 0, or with coCenterImage and W - w >= 16:
//                   (W - 2w) / 32 bytes with doubleWidth, else (W - w) / 16.
void PlaceInputImage(FaxConvertData& cvt, int imageWidth);

// Codes one raster line (lineWidth pixels used) into cvt.codeBuffer as the
// body of a coded-line record: byte-aligned 16-bit EOL, the runs, zero fill.
// Returns the record's byte count, which is also cvt.bytePos afterwards.
int EncodeFaxLine(FaxConvertData& cvt, const uint8_t* rasterLine);

// Clears the code buffer and copies the 12-byte end-of-page block to out.
// Returns 12.
int EncodeEndOfPage(FaxConvertData& cvt, uint8_t* out);

// Runs a conversion into an APF file. An empty outputName takes the input's
// folder and base name with ".APF"; an outputName without extension gets
// ".APF". Returns 0 or a negative error; on failure no output file remains.
int ConvertToApfFile(FaxConvertData& cvt, const std::string& inputName,
                     const std::string& outputName);

// The output name ConvertToApfFile uses for these names.
std::string ApfOutputName(const std::string& inputName, const std::string& outputName);

}  // namespace tv
