#include "engine/files/header_line.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "engine/files/fax_files.h"
#include "engine/session/fax_records.h"
#include "images/text/fax_text.h"
#include "platform/core/error_codes.h"

namespace tv {

std::string ExpandHeaderTags(const std::string& line, const HeaderValues& values) {
  std::string out = line;
  size_t from = 0;
  for (;;) {
    size_t dollar = out.find('$', from);
    if (dollar == std::string::npos) break;
    size_t end = out.find(' ', dollar);
    if (end == std::string::npos) end = out.size();
    char letter = dollar + 1 < out.size()
                      ? static_cast<char>(std::toupper(static_cast<unsigned char>(out[dollar + 1])))
                      : '\0';
    const std::string* value = nullptr;
    switch (letter) {
      case 'D': value = &values.date; break;
      case 'T': value = &values.time; break;
      case 'I': value = &values.stationId; break;
      case 'F': value = &values.sender; break;
      case 'R': value = &values.recipient; break;
      case 'S': value = &values.title; break;
      case 'N': value = &values.pages; break;
      case 'P': value = &values.page; break;
      default: break;
    }
    std::string inserted = value ? *value : std::string();
    out.replace(dollar, end - dollar, inserted);
    from = dollar + inserted.size();
  }
  return out;
}

HeaderValues HeaderValuesFor(const FaxSession& s) {
  HeaderValues v;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%m/%d/%Y", &tm);
  v.date = text;
  std::strftime(text, sizeof text, "%H:%M", &tm);
  v.time = text;
  const FaxCommonData& c = s.common;
  v.stationId = c.stationId;
  v.sender = c.headerSender;
  v.recipient = c.headerRecipient;
  v.title = c.headerTitle;
  v.pages = std::to_string(c.totalPages + c.coverCount);
  int page = c.coverInProgress ? 1 : (c.coverCount > 0 ? c.currentPage + 1 : c.currentPage);
  v.page = std::to_string(page);
  return v;
}

namespace {

// Draws with the fax font through a text converter: one raster line per
// glyph row, each coded as the converter codes lines.
class FontRenderer : public HeaderLineRenderer {
 public:
  explicit FontRenderer(std::unique_ptr<FaxConvertData> cvt) : cvt_(std::move(cvt)) {}

  int Render(const std::string& text, int heightCode, bool fine, bool wide,
             std::vector<std::vector<uint8_t>>& codedRows) override {
    codedRows.clear();
    SetConverterWidth(*cvt_, wide ? 2 : 1);
    int rc = LoadFaxFont(*cvt_, "", heightCode, fine);
    if (rc != ecOK) return rc;
    const FaxTextData* data = TextDataOf(*cvt_);
    if (!data) return ecBadArgument;
    std::string codes = TextLineToFontCodes(text);
    std::vector<uint8_t> raster(kRasterBufferSize);
    for (int row = 1; row <= data->metrics.rows; ++row) {
      std::fill(raster.begin(), raster.end(), 0);
      RenderTextRow(*cvt_, codes, row, raster.data());
      int n = EncodeFaxLine(*cvt_, raster.data());
      codedRows.emplace_back(cvt_->codeBuffer.get(), cvt_->codeBuffer.get() + n);
    }
    return ecOK;
  }

 private:
  std::unique_ptr<FaxConvertData> cvt_;
};

}  // namespace

std::unique_ptr<HeaderLineRenderer> CreateHeaderLineRenderer() {
  std::unique_ptr<FaxConvertData> cvt;
  if (CreateTextConverter(cvt) != ecOK) return nullptr;
  return std::make_unique<FontRenderer>(std::move(cvt));
}

}  // namespace tv
