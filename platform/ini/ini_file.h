// Initialisation files (ZT.INI, ZTPD.INI): [section] lines followed by
// key=value lines. Section and key names are compared without regard to
// letter case; values are kept as written. Updating a key rewrites its line in
// place, a new key goes to the end of its section and a new section to the
// end of the file; comments, blank lines and unknown keys survive a rewrite.
// Reads accept CR LF and LF line ends; writes use CR LF. The file is replaced
// atomically: the new text goes to a temporary file beside it, which is then
// renamed over the old one, so a failed write leaves the old file whole.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

class TIniFile {
 public:
  TIniFile() = default;
  explicit TIniFile(std::filesystem::path path);

  // Reads the file; a missing file gives an empty text and ecOK. Returns a
  // file error code (positive) when the file exists but cannot be read.
  int Load();

  // Writes the whole text atomically. Returns ecOK or a file error code
  // (positive, as the file layer reports it); the old file is then unchanged.
  int Save() const;

  const std::filesystem::path& Path() const { return path_; }

  // The value of a key, or nothing when the section or key is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Integer rule of the configuration file: decimal with an optional sign, or
  // hexadecimal when the value begins with "0x"/"0X" and has more than two
  // characters; a missing key or a value that does not convert gives the default.
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // Booleans are integers, true when not 0.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

  // Changes the text in memory; Save() writes it.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  bool SectionExists(std::string_view section) const;
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(std::string_view section) const;

  // The whole text as it would be written (CR LF line ends).
  std::string Text() const;
  // Replaces the text in memory (either line end accepted).
  void SetText(std::string_view text);

 private:
  // Index of the section's header line, or npos.
  size_t FindSection(std::string_view section) const;
  // Index of the key's line inside the section starting at header index, or npos.
  size_t FindKey(size_t header, std::string_view key) const;

  std::filesystem::path path_;
  std::vector<std::string> lines_;
};

// The integer rule on its own (used by ReadInteger).
int IniStringToInt(std::string_view text, int defaultValue);

// Reads one value of a file in one call (the file is read each time).
std::string ReadIniString(const std::filesystem::path& path, std::string_view section,
                          std::string_view key, std::string_view defaultValue);

// Updates one value of a file in one call; returns ecOK or a file error code.
int WriteIniString(const std::filesystem::path& path, std::string_view section,
                   std::string_view key, std::string_view value);

}  // namespace tv
