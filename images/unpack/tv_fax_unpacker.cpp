#include "images/unpack/tv_fax_unpacker.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv {

namespace {
bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}
}  // namespace

TTvCustomFaxUnpacker::TTvCustomFaxUnpacker() = default;
TTvCustomFaxUnpacker::~TTvCustomFaxUnpacker() = default;

void TTvCustomFaxUnpacker::SetOptions(uint16_t options) {
  options_ = options;
  if (core_) {
    if (options & uoYield) {
      SetUnpackerFlags(*core_, ufYield);
    } else {
      ClearUnpackerFlags(*core_, ufYield);
    }
    if (options & uoAbort) SetUnpackerFlags(*core_, ufAbort);
  }
}

void TTvCustomFaxUnpacker::SetInFileName(const std::string& name) {
  if (!SameIgnoringCase(name, inFileName_)) {
    std::filesystem::path p(name);
    p.replace_extension();
    outFileName_ = p.string();
  }
  inFileName_ = name;
}

void TTvCustomFaxUnpacker::BuildCore() {
  core_.reset();
  std::unique_ptr<FaxUnpackData> u;
  CheckResult(CreateFaxUnpacker(u, this, nullptr));
  ClearUnpackerFlags(*u, ufYield | ufDoubleHeight | ufHalfWidth | ufAbort);
  if (options_ & uoYield) SetUnpackerFlags(*u, ufYield);
  if (autoScaleMode_ == asDoubleHeight) SetUnpackerFlags(*u, ufDoubleHeight);
  if (autoScaleMode_ == asHalfWidth) SetUnpackerFlags(*u, ufHalfWidth);
  if (whitespaceCompression_) {
    CheckResult(SetWhitespace(*u, static_cast<int>(whitespaceFrom_), static_cast<int>(whitespaceTo_)));
  }
  if (scaling_) {
    SetStretch(*u, static_cast<int>(horizMult_), static_cast<int>(horizDiv_),
               static_cast<int>(vertMult_), static_cast<int>(vertDiv_));
  }
  u->yield = yield_;
  u->statusCallback = [this](FaxUnpackData&, const std::string& fname, int page, int64_t done,
                             int64_t total) {
    if (OnStatus) OnStatus(*this, fname, page, done, total);
  };
  core_ = std::move(u);
}

int TTvCustomFaxUnpacker::NumberOfPages() {
  BuildCore();
  ApfFileHeader h;
  if (ReadApfFileHeader(inFileName_, h) < 0) return 0;
  return h.pageCount;
}

ApfPageHeader TTvCustomFaxUnpacker::FirstPageHeader() {
  BuildCore();
  int error = 0;
  std::FILE* f = OpenApfForReading(inFileName_, error);
  CheckResult(error);
  ApfFileHeader fh;
  ApfPageHeader ph;
  int rc = ReadApfFileHeader(f, fh);
  if (rc == 0) rc = SeekApfPage(f, fh, 1, ph);
  std::fclose(f);
  CheckResult(rc);
  return ph;
}

TFaxResolution TTvCustomFaxUnpacker::FirstPageResolution() {
  return (FirstPageHeader().pageFlags & pfHighRes) ? frHigh : frNormal;
}

TFaxWidth TTvCustomFaxUnpacker::FirstPageWidth() {
  return (FirstPageHeader().pageFlags & pfWide) ? fwWide : fwNormal;
}

MonoBitmap TTvCustomFaxUnpacker::UnpackPageToBitmap(int pageNo) {
  BuildCore();
  MonoBitmap bitmap;
  const int rc = tv::UnpackPageToBitmap(*core_, inFileName_, pageNo, bitmap);
  CheckResult(rc);
  return bitmap;
}

}  // namespace tv
