// TTvFaxUnpacker: the unpacker component. Each public operation builds a
// fresh core from the current properties. Negative results raise the
// ETvException for their code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "images/bitmap/mono_bitmap.h"
#include "images/convert/fax_converter.h"
#include "images/unpack/fax_unpacker.h"

namespace tv {

// TUnpackerOptions bits.
enum : uint16_t { uoYield = 1, uoAbort = 2 };

enum TAutoScaleMode : int { asNone = 0, asDoubleHeight = 1, asHalfWidth = 2 };

class TTvCustomFaxUnpacker;

// (Sender, Starting, Ending, Data, Len, PageNum); kept for callers, never
// raised by the operations here.
using TUnpackOutputLineEvent = std::function<void(TTvCustomFaxUnpacker& sender, bool starting,
                                                  bool ending, const uint8_t* data, int len,
                                                  int pageNum)>;
// (Sender, FName, PageNum, BytesUnpacked, BytesToUnpack)
using TUnpackStatusEvent = std::function<void(TTvCustomFaxUnpacker& sender, const std::string& fname,
                                              int pageNum, int64_t bytesUnpacked,
                                              int64_t bytesToUnpack)>;

class TTvCustomFaxUnpacker {
 public:
  TTvCustomFaxUnpacker();
  virtual ~TTvCustomFaxUnpacker();
  TTvCustomFaxUnpacker(const TTvCustomFaxUnpacker&) = delete;
  TTvCustomFaxUnpacker& operator=(const TTvCustomFaxUnpacker&) = delete;

  // uoYield, uoAbort. While a decode runs, uoAbort ends it after the
  // current byte (the page simply ends there).
  uint16_t Options() const { return options_; }
  void SetOptions(uint16_t options);

  bool WhitespaceCompression() const { return whitespaceCompression_; }
  void SetWhitespaceCompression(bool on) { whitespaceCompression_ = on; }
  unsigned WhitespaceFrom() const { return whitespaceFrom_; }
  void SetWhitespaceFrom(unsigned n) { whitespaceFrom_ = n; }
  unsigned WhitespaceTo() const { return whitespaceTo_; }
  void SetWhitespaceTo(unsigned n) { whitespaceTo_ = n; }
  bool Scaling() const { return scaling_; }
  void SetScaling(bool on) { scaling_ = on; }
  // Assigning 0 is ignored.
  unsigned HorizMult() const { return horizMult_; }
  void SetHorizMult(unsigned n) { if (n) horizMult_ = n; }
  unsigned HorizDiv() const { return horizDiv_; }
  void SetHorizDiv(unsigned n) { if (n) horizDiv_ = n; }
  unsigned VertMult() const { return vertMult_; }
  void SetVertMult(unsigned n) { if (n) vertMult_ = n; }
  unsigned VertDiv() const { return vertDiv_; }
  void SetVertDiv(unsigned n) { if (n) vertDiv_ = n; }
  TAutoScaleMode AutoScaleMode() const { return autoScaleMode_; }
  void SetAutoScaleMode(TAutoScaleMode m) { autoScaleMode_ = m; }

  // Assigning a name that differs other than in letter case also sets
  // OutFileName to it without its extension.
  const std::string& InFileName() const { return inFileName_; }
  void SetInFileName(const std::string& name);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& name) { outFileName_ = name; }

  // The event loop hook used while yielding (uoYield): 0 or ecGotQuitMsg.
  void SetYieldHandler(UnpackYieldFn yield) { yield_ = std::move(yield); }

  TUnpackOutputLineEvent OnOutputLine;
  TUnpackStatusEvent OnStatus;

  // The file's pageCount; 0 when its header cannot be read.
  int NumberOfPages();
  TFaxResolution FirstPageResolution();
  TFaxWidth FirstPageWidth();
  // The page's bitmap (1 = black), trimmed, adapted and stretched as the
  // properties say; an all-white page gives an empty bitmap.
  MonoBitmap UnpackPageToBitmap(int pageNo);

 protected:
  void BuildCore();

 private:
  ApfPageHeader FirstPageHeader();

  uint16_t options_ = uoYield;
  bool whitespaceCompression_ = false;
  unsigned whitespaceFrom_ = 0;
  unsigned whitespaceTo_ = 0;
  bool scaling_ = false;
  unsigned horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
  TAutoScaleMode autoScaleMode_ = asDoubleHeight;
  std::string inFileName_;
  std::string outFileName_;
  UnpackYieldFn yield_;
  std::unique_ptr<FaxUnpackData> core_;
};

class TTvFaxUnpacker : public TTvCustomFaxUnpacker {
 public:
  using TTvCustomFaxUnpacker::TTvCustomFaxUnpacker;
};

}  // namespace tv
