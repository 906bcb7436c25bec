#include "images/convert/tv_fax_converter.h"

#include <filesystem>

#include "images/convert/bitmap_input.h"
#include "images/graphics/graphics_input.h"
#include "images/text/fax_text.h"
#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv {

TTvCustomFaxConverter::TTvCustomFaxConverter() = default;
TTvCustomFaxConverter::~TTvCustomFaxConverter() = default;

void TTvCustomFaxConverter::SetOptions(uint16_t options) {
  if (options & coYieldOften) options |= coYield;
  options_ = options;
}

void TTvCustomFaxConverter::SetDocumentFile(const std::string& name) {
  if (name.empty() || name == documentFile_) {
    documentFile_ = name;
    return;
  }
  documentFile_ = name;
  std::filesystem::path p(name);
  p.replace_extension(".APF");
  outFileName_ = p.string();
}

std::unique_ptr<FaxConvertData> TTvCustomFaxConverter::PrepareCore() {
  std::unique_ptr<FaxConvertData> cvt;
  int rc = ecBadArgument;
  switch (inputDocumentType_) {
    case idBitmap:
      rc = CreateBitmapConverter(cvt);
      break;
    case idUser: {
      FaxInputKind kind;
      kind.openInput = [this](FaxConvertData&, const std::string& name) {
        if (OnOpenUserFile) OnOpenUserFile(*this, name);
        return 0;
      };
      kind.readLine = [this](FaxConvertData&, uint8_t* data, int& len, bool& endOfPage,
                             bool& morePages) {
        if (!OnReadUserLine) {
          endOfPage = true;
          morePages = false;
          return 0;
        }
        OnReadUserLine(*this, data, len, endOfPage, morePages);
        return 0;
      };
      kind.closeInput = [this](FaxConvertData&) {
        if (OnCloseUserFile) OnCloseUserFile(*this);
      };
      rc = CreateFaxConverter(cvt, nullptr, std::move(kind), defUserExtension_);
      break;
    }
    default:
      // Text and graphics files come from their own input kinds.
      rc = CreateInputCore(inputDocumentType_, cvt);
      break;
  }
  CheckResult(rc);
  cvt->owner = this;
  ClearConverterOptions(*cvt, 0xFFFF);
  SetConverterOptions(*cvt, options_);
  SetConverterMargins(*cvt, static_cast<int>(leftMargin_), static_cast<int>(topMargin_));
  SetConverterResolution(*cvt, resolution_ == frHigh);
  SetConverterWidth(*cvt, width_ == fwWide ? 2 : 1);
  SetConverterStationId(*cvt, stationId_);
  SetConverterYield(*cvt, yield_);
  SetConverterStatus(*cvt, [this](FaxConvertData& c, bool starting, bool ending, bool& abort) {
    if (OnStatus) {
      OnStatus(*this, starting, ending, c.currentPage, c.currentLine, c.bytesRead, c.bytesTotal,
               abort);
    }
  });
  CheckResult(ConfigureInputCore(inputDocumentType_, *cvt));
  return cvt;
}

int TTvCustomFaxConverter::CreateInputCore(TFaxInputDocumentType type,
                                           std::unique_ptr<FaxConvertData>& out) {
  switch (type) {
    case idText: return CreateTextConverter(out);
    case idTiff: return CreateTiffConverter(out);
    case idPcx: return CreatePcxConverter(out);
    case idDcx: return CreateDcxConverter(out);
    case idBmp: return CreateBmpConverter(out);
    default: return ecBadArgument;  // idNone
  }
}

int TTvCustomFaxConverter::ConfigureInputCore(TFaxInputDocumentType type, FaxConvertData& cvt) {
  if (type != idText) return 0;
  SetTextTabStop(cvt, tabStop_);
  SetTextLinesPerPage(cvt, linesPerPage_);
  // Glyph rows are doubled for fine resolution.
  return LoadFaxFont(cvt, fontFile_, fontType_ == ffSmall ? 16 : 48, resolution_ == frHigh);
}

void TTvCustomFaxConverter::ConvertBitmapToFile(const MonoBitmap& bitmap) {
  const TFaxInputDocumentType saved = inputDocumentType_;
  inputDocumentType_ = idBitmap;
  int rc = 0;
  try {
    core_ = PrepareCore();
    rc = SetConverterBitmap(*core_, &bitmap);
    if (rc == 0) rc = ConvertToApfFile(*core_, documentFile_, outFileName_);
  } catch (...) {
    core_.reset();
    inputDocumentType_ = saved;
    throw;
  }
  core_.reset();
  inputDocumentType_ = saved;
  CheckResult(rc);
}

void TTvCustomFaxConverter::ConvertToFile() {
  core_ = PrepareCore();
  const int rc = ConvertToApfFile(*core_, documentFile_, outFileName_);
  core_.reset();
  CheckResult(rc);
}

}  // namespace tv
