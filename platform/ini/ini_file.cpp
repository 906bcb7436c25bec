#include "platform/ini/ini_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <sstream>

#include "platform/core/error_codes.h"

namespace tv {

namespace {

constexpr size_t npos = std::string::npos;

std::string_view Trim(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
  size_t e = s.size();
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The name of a section header line, or nothing when the line is not one.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
  std::string_view t = Trim(line);
  return !t.empty() && t.front() == ';';
}

// Splits a key line; nothing when the line holds no key.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
  if (IsComment(line) || SectionName(line)) return std::nullopt;
  size_t eq = line.find('=');
  if (eq == npos) return std::nullopt;
  std::string_view key = Trim(line.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return std::make_pair(key, Trim(line.substr(eq + 1)));
}

}  // namespace

TIniFile::TIniFile(std::filesystem::path path) : path_(std::move(path)) {}

int TIniFile::Load() {
  lines_.clear();
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec)) return ecOK;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return FileErrorFromErrno(errno ? errno : EACCES);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return ecDeviceReadError;
  SetText(text.str());
  return ecOK;
}

void TIniFile::SetText(std::string_view text) {
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == npos ? npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (end == npos) break;
    start = end + 1;
  }
}

std::string TIniFile::Text() const {
  std::string out;
  for (const std::string& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

int TIniFile::Save() const {
  const std::string text = Text();
  std::filesystem::path temp = path_;
  temp += ".tmp" + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return FileErrorFromErrno(errno);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = FileErrorFromErrno(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return err;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int err = FileErrorFromErrno(errno);
    ::unlink(temp.c_str());
    return err;
  }
  if (::rename(temp.c_str(), path_.c_str()) != 0) {
    int err = FileErrorFromErrno(errno);
    ::unlink(temp.c_str());
    return err;
  }
  return ecOK;
}

size_t TIniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto name = SectionName(lines_[i]);
    if (name && SameName(*name, Trim(section))) return i;
  }
  return npos;
}

size_t TIniFile::FindKey(size_t header, std::string_view key) const {
  for (size_t i = header + 1; i < lines_.size(); ++i) {
    if (SectionName(lines_[i])) break;
    auto kv = KeyValue(lines_[i]);
    if (kv && SameName(kv->first, Trim(key))) return i;
  }
  return npos;
}

std::optional<std::string> TIniFile::Find(std::string_view section, std::string_view key) const {
  size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  size_t line = FindKey(header, key);
  if (line == npos) return std::nullopt;
  return std::string(KeyValue(lines_[line])->second);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  auto v = Find(section, key);
  return v ? *v : std::string(defaultValue);
}

int IniStringToInt(std::string_view text, int defaultValue) {
  text = Trim(text);
  if (text.empty()) return defaultValue;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  bool negative = false;
  if (base == 10 && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return defaultValue;
  unsigned long long value = 0;
  auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (err != std::errc() || end != text.data() + text.size()) return defaultValue;
  if (base == 16) {
    // Hexadecimal values name a 32-bit pattern: 0xFFFFFFFF is -1.
    if (value > 0xFFFFFFFFull) return defaultValue;
    return static_cast<int>(static_cast<uint32_t>(value));
  }
  if (negative) {
    if (value > static_cast<unsigned long long>(INT_MAX) + 1) return defaultValue;
    return static_cast<int>(-static_cast<long long>(value));
  }
  if (value > static_cast<unsigned long long>(INT_MAX)) return defaultValue;
  return static_cast<int>(value);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key,
                          int defaultValue) const {
  auto v = Find(section, key);
  return v ? IniStringToInt(*v, defaultValue) : defaultValue;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key,
                           std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  size_t header = FindSection(section);
  if (header == npos) {
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::string(key) + "=" + std::string(value));
    return;
  }
  size_t line = FindKey(header, key);
  if (line != npos) {
    // Keep the key as it is spelled in the file; only the value changes.
    std::string spelled(KeyValue(lines_[line])->first);
    lines_[line] = spelled + "=" + std::string(value);
    return;
  }
  // After the last non-blank line of the section.
  size_t last = header;
  for (size_t i = header + 1; i < lines_.size(); ++i) {
    if (SectionName(lines_[i])) break;
    if (!Trim(lines_[i]).empty()) last = i;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1),
                std::string(key) + "=" + std::string(value));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != npos;
}

std::vector<std::string> TIniFile::Sections() const {
  std::vector<std::string> out;
  for (const std::string& line : lines_) {
    if (auto name = SectionName(line)) out.emplace_back(*name);
  }
  return out;
}

std::vector<std::string> TIniFile::Keys(std::string_view section) const {
  std::vector<std::string> out;
  size_t header = FindSection(section);
  if (header == npos) return out;
  for (size_t i = header + 1; i < lines_.size(); ++i) {
    if (SectionName(lines_[i])) break;
    if (auto kv = KeyValue(lines_[i])) out.emplace_back(kv->first);
  }
  return out;
}

std::string ReadIniString(const std::filesystem::path& path, std::string_view section,
                          std::string_view key, std::string_view defaultValue) {
  TIniFile ini(path);
  ini.Load();
  return ini.ReadString(section, key, defaultValue);
}

int WriteIniString(const std::filesystem::path& path, std::string_view section,
                   std::string_view key, std::string_view value) {
  TIniFile ini(path);
  if (int err = ini.Load(); err != ecOK) return err;
  ini.WriteString(section, key, value);
  return ini.Save();
}

}  // namespace tv
