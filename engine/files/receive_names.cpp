#include "engine/files/receive_names.h"

#include <cstdio>
#include <filesystem>

namespace tv {

namespace {

std::string FirstFree(const std::string& dir, const std::string& stem, const std::string& ext) {
  std::filesystem::path folder(dir);
  for (int n = 1; n <= 9999; ++n) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", n);
    std::filesystem::path candidate = folder / (stem + digits + "." + ext);
    std::error_code ec;
    if (!std::filesystem::exists(candidate, ec)) return candidate.string();
  }
  return (folder / "NONAME.APF").string();
}

}  // namespace

std::string CounterFileName(const std::string& dir, const std::string& ext) {
  return FirstFree(dir, "FAX", ext);
}

std::string DateFileName(const std::string& dir, const std::string& ext, std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  char stem[8];
  std::snprintf(stem, sizeof stem, "%02d%02d", tm.tm_mon + 1, tm.tm_mday);
  return FirstFree(dir, stem, ext);
}

}  // namespace tv
