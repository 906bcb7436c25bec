// TTvFaxConverter: the converter component. Properties with their defaults,
// events as std::function, and conversions of a bitmap or of the current
// DocumentFile into an APF file. Negative results raise the ETvException for
// their code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "images/bitmap/mono_bitmap.h"
#include "images/convert/fax_converter.h"

namespace tv {

class TTvCustomFaxConverter;

// (Sender, Starting, Ending, PagesConverted, LinesConverted, BytesConverted,
// BytesToConvert, var Abort)
using TFaxStatusEvent = std::function<void(TTvCustomFaxConverter& sender, bool starting,
                                           bool ending, int pagesConverted, int linesConverted,
                                           int64_t bytesConverted, int64_t bytesToConvert,
                                           bool& abort)>;
// (Sender, Data, Len, EndOfPage, MorePages); kept for callers, never raised here.
using TFaxOutputLineEvent = std::function<void(TTvCustomFaxConverter& sender, const uint8_t* data,
                                               int len, bool endOfPage, bool morePages)>;
using TFaxOpenFileEvent = std::function<void(TTvCustomFaxConverter& sender, const std::string& fname)>;
using TFaxCloseFileEvent = std::function<void(TTvCustomFaxConverter& sender)>;
// (Sender, Data, var Len, var EndOfPage, var MorePages): Data is the zeroed
// raster buffer of kRasterBufferSize bytes, 1 = black.
using TFaxReadLineEvent = std::function<void(TTvCustomFaxConverter& sender, uint8_t* data, int& len,
                                             bool& endOfPage, bool& morePages)>;

class TTvCustomFaxConverter {
 public:
  TTvCustomFaxConverter();
  virtual ~TTvCustomFaxConverter();
  TTvCustomFaxConverter(const TTvCustomFaxConverter&) = delete;
  TTvCustomFaxConverter& operator=(const TTvCustomFaxConverter&) = delete;

  TFaxInputDocumentType InputDocumentType() const { return inputDocumentType_; }
  void SetInputDocumentType(TFaxInputDocumentType t) { inputDocumentType_ = t; }

  // TFaxCvtOptions bits; setting coYieldOften also sets coYield.
  uint16_t Options() const { return options_; }
  void SetOptions(uint16_t options);

  TFaxResolution Resolution() const { return resolution_; }
  void SetResolution(TFaxResolution r) { resolution_ = r; }
  TFaxWidth Width() const { return width_; }
  void SetWidth(TFaxWidth w) { width_ = w; }
  unsigned TopMargin() const { return topMargin_; }
  void SetTopMargin(unsigned lines) { topMargin_ = lines; }
  unsigned LeftMargin() const { return leftMargin_; }
  void SetLeftMargin(unsigned pixels) { leftMargin_ = pixels; }
  unsigned LinesPerPage() const { return linesPerPage_; }
  void SetLinesPerPage(unsigned n) { linesPerPage_ = n; }
  unsigned TabStop() const { return tabStop_; }
  void SetTabStop(unsigned n) { tabStop_ = n; }
  const std::string& FontFile() const { return fontFile_; }
  void SetFontFile(const std::string& f) { fontFile_ = f; }
  TFaxFont FontType() const { return fontType_; }
  void SetFontType(TFaxFont f) { fontType_ = f; }

  // Assigning a new non-empty name also sets OutFileName to it with the
  // extension replaced by ".APF".
  const std::string& DocumentFile() const { return documentFile_; }
  void SetDocumentFile(const std::string& name);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& name) { outFileName_ = name; }
  const std::string& DefUserExtension() const { return defUserExtension_; }
  void SetDefUserExtension(const std::string& ext) { defUserExtension_ = ext; }
  const std::string& StationID() const { return stationId_; }
  void SetStationID(const std::string& id) { stationId_ = id; }

  // Runs the conversion's event loop hook while yielding (coYield): returns
  // 0 or ecGotQuitMsg. Without one, yielding does nothing.
  void SetYieldHandler(FaxYieldFn yield) { yield_ = std::move(yield); }

  TFaxStatusEvent OnStatus;
  TFaxOutputLineEvent OnOutputLine;
  TFaxOpenFileEvent OnOpenUserFile;
  TFaxCloseFileEvent OnCloseUserFile;
  TFaxReadLineEvent OnReadUserLine;

  // Converts a monochrome bitmap into OutFileName (DocumentFile names the
  // input for the output name rule). InputDocumentType is restored after.
  void ConvertBitmapToFile(const MonoBitmap& bitmap);

  // Converts DocumentFile into OutFileName with the current
  // InputDocumentType (text, graphics files or user lines).
  void ConvertToFile();

 protected:
  // Creates and prepares the core for the current properties; raises for a
  // negative result of any step.
  std::unique_ptr<FaxConvertData> PrepareCore();
  // The cores of the text and graphics input kinds (idText, idTiff, idPcx,
  // idDcx, idBmp), and their settings from the properties (tab stop, lines
  // per page, font for idText). 0 or a negative code.
  static int CreateInputCore(TFaxInputDocumentType type, std::unique_ptr<FaxConvertData>& out);
  int ConfigureInputCore(TFaxInputDocumentType type, FaxConvertData& cvt);

 private:
  TFaxInputDocumentType inputDocumentType_ = idNone;
  uint16_t options_ = kDefaultConvertOptions;
  TFaxResolution resolution_ = frNormal;
  TFaxWidth width_ = fwNormal;
  unsigned topMargin_ = 0;
  unsigned leftMargin_ = kDefaultLeftMargin;
  unsigned linesPerPage_ = 60;
  unsigned tabStop_ = 4;
  std::string fontFile_ = "TVFAX.FNT";
  TFaxFont fontType_ = ffStandard;
  std::string documentFile_;
  std::string outFileName_;
  std::string defUserExtension_;
  std::string stationId_;
  FaxYieldFn yield_;
  std::unique_ptr<FaxConvertData> core_;  // exists during a conversion
};

class TTvFaxConverter : public TTvCustomFaxConverter {
 public:
  using TTvCustomFaxConverter::TTvCustomFaxConverter;
};

}  // namespace tv
