#include "platform/xbase/xbase_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <unordered_map>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "platform/xbase/xbase_expression.h"
#include "platform/xbase/xbase_index.h"

namespace tv {

using xbase::Expression;
using xbase::FieldLayout;
using xbase::IndexCursor;
using xbase::IndexDamaged;
using xbase::IndexEntry;
using xbase::IndexFile;
using xbase::IndexTag;

namespace {

// Byte-range locks far beyond any table data: one held for as long as the
// table is open (write lock = exclusive, read lock = shared), one held
// while a shared table is read (read lock) or changed (write lock).
constexpr off_t kOpenLockByte = 0x7FFFFFF0;
constexpr off_t kUpdateLockByte = 0x7FFFFFF1;

[[noreturn]] void IoError(int code, const std::string& message) {
  throw EInOutError(code, message);
}
[[noreturn]] void BadArgument(const std::string& message) {
  throw EBadArgument(ecBadArgument, message);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Finds a file in a folder whatever the letter case of its name.
std::filesystem::path FindCaseBlind(const std::filesystem::path& folder, const std::string& name) {
  std::filesystem::path exact = folder / name;
  std::error_code ec;
  if (std::filesystem::exists(exact, ec)) return exact;
  std::string want = Upper(name);
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (Upper(entry.path().filename().string()) == want) return entry.path();
  }
  return exact;
}

bool FullWrite(int fd, const void* data, size_t size, off_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t w = ::pwrite(fd, p, size, offset);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    size -= static_cast<size_t>(w);
    offset += w;
  }
  return true;
}

bool FullRead(int fd, void* data, size_t size, off_t offset) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t r = ::pread(fd, p, size, offset);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    size -= static_cast<size_t>(r);
    offset += r;
  }
  return true;
}

int LockByte(int fd, off_t byte, short type, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

void TodayBytes(uint8_t* p, bool vfp) {
  std::time_t now = std::time(nullptr);
  std::tm tm {};
  localtime_r(&now, &tm);
  p[0] = static_cast<uint8_t>(vfp ? tm.tm_year % 100 : tm.tm_year);
  p[1] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[2] = static_cast<uint8_t>(tm.tm_mday);
}

bool ValidName(const std::string& n, size_t maxLen) {
  if (n.empty() || n.size() > maxLen) return false;
  if (!std::isalpha(static_cast<unsigned char>(n[0])) && n[0] != '_') return false;
  return std::all_of(n.begin(), n.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

std::string Trim(std::string s) {
  s = TrimRight(std::move(s));
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// The text of an N field of this width and decimals, or empty when the
// value does not fit.
std::string FormatNumber(double v, int width, int decimals) {
  if (v == 0) v = 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, v);
  std::string s = buf;
  if (static_cast<int>(s.size()) > width) return {};
  if (s.find('-') != std::string::npos && std::strtod(s.c_str(), nullptr) == 0)
    s = FormatNumber(0, width, decimals);
  return s;
}

}  // namespace

// ---- Creating a table ----------------------------------------------------------

int CreateTableFile(const std::filesystem::path& path, const std::string& /*alias*/,
                    int tableType, const std::vector<XbaseField>& fields) {
  if (tableType != kXbaseTableTypeFoxPro || fields.empty() || fields.size() > 255) return ecBadArgument;
  std::set<std::string> names;
  size_t recordLength = 1;
  for (const XbaseField& f : fields) {
    std::string n = Upper(f.name);
    if (!ValidName(n, 10) || !names.insert(n).second) return ecBadArgument;
    switch (f.type) {
      case 'C': if (f.width < 1 || f.width > 254 || f.decimals != 0) return ecBadArgument; break;
      case 'D': if (f.width != 8 || f.decimals != 0) return ecBadArgument; break;
      case 'L': if (f.width != 1 || f.decimals != 0) return ecBadArgument; break;
      case 'N':
        if (f.width < 1 || f.width > 20 || f.decimals < 0 ||
            (f.decimals > 0 && f.decimals > f.width - 2))
          return ecBadArgument;
        break;
      default: return ecBadArgument;
    }
    recordLength += static_cast<size_t>(f.width);
  }
  if (recordLength > 65500) return ecBadArgument;
  size_t headerLength = 32 + 32 * fields.size() + 1;
  std::vector<uint8_t> buf(headerLength + 1, 0);
  buf[0] = 0x03;
  TodayBytes(&buf[1], false);
  buf[8] = static_cast<uint8_t>(headerLength);
  buf[9] = static_cast<uint8_t>(headerLength >> 8);
  buf[10] = static_cast<uint8_t>(recordLength);
  buf[11] = static_cast<uint8_t>(recordLength >> 8);
  size_t off = 32;
  for (const XbaseField& f : fields) {
    std::string n = Upper(f.name);
    std::memcpy(&buf[off], n.data(), n.size());
    buf[off + 11] = static_cast<uint8_t>(f.type);
    buf[off + 16] = static_cast<uint8_t>(f.width);
    buf[off + 17] = static_cast<uint8_t>(f.decimals);
    off += 32;
  }
  buf[off] = 0x0D;
  buf[headerLength] = 0x1A;
  std::filesystem::path tmp = path;
  tmp += ".new";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return FileErrorFromErrno(errno);
  bool ok = FullWrite(fd, buf.data(), buf.size(), 0);
  int err = errno;
  ::close(fd);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    if (ok) err = errno;
    ::unlink(tmp.c_str());
    return FileErrorFromErrno(err);
  }
  return ecOK;
}

// ---- The table ---------------------------------------------------------------------

struct XbaseTable::Impl {
  // File
  std::filesystem::path folder, dbfPath, cdxPath;
  int fd = -1;
  bool exclusive = false;
  bool readOnly = false;
  int lockDepth = 0;
  bool lockIsWrite = false;
  // Header
  uint8_t typeByte = 0x03;
  uint8_t flagsByte = 0;
  uint32_t headerLength = 0;
  uint32_t recordLength = 0;
  uint32_t recordCount = 0;
  std::vector<XbaseField> fields;
  std::vector<FieldLayout> layouts;
  // Record cache in blocks
  uint32_t blockRecords = 1;
  std::unordered_map<uint32_t, std::vector<uint8_t>> blocks;
  // Index
  std::unique_ptr<IndexFile> index;
  struct TagExpr {
    Expression key, forCond;
  };
  std::vector<TagExpr> tagExprs;
  XbaseIndexStatus indexStatus = XbaseIndexStatus::isNone;
  std::string indexStatusText;
  // View
  int order = 0;
  std::string filterText;
  Expression filter;
  uint32_t recno = 0;  // 0: no current row
  IndexCursor cursor;
  bool cursorValid = false;
  bool eof = true, bof = true;
  // Editing
  XbaseEditState state = XbaseEditState::esBrowse;
  std::vector<uint8_t> buffer;   // row being edited
  std::vector<uint8_t> current;  // current row as read
  // Positions
  bool visibleValid = false;
  std::vector<uint32_t> visible;
  std::unordered_map<uint32_t, int> positionOf;
  bool positionsValid = false;
  // Callbacks
  std::function<void(int)> progress;
  std::function<void(XbaseChange)> changed;
  int notifyDisabled = 0;
  bool notifyPending = false;

  std::string Name() const { return dbfPath.filename().string(); }
  std::string IndexName() const { return cdxPath.filename().string(); }

  void Notify(XbaseChange c) {
    if (notifyDisabled > 0) {
      notifyPending = true;
      return;
    }
    if (changed) changed(c);
  }

  void Progress(int percent) {
    if (progress) progress(percent);
  }

  void RequireOpen() const {
    if (fd < 0) BadArgument("The table is not open");
  }

  // ---- Header and records ----

  void ReadHeader(bool initial) {
    struct stat st;
    if (::fstat(fd, &st) != 0) IoError(FileErrorFromErrno(errno), "Cannot read " + dbfPath.string());
    uint64_t size = static_cast<uint64_t>(st.st_size);
    uint8_t h[32];
    if (size < 32 || !FullRead(fd, h, 32, 0))
      IoError(ecDataError, Name() + " is damaged: the file is too short to be a table");
    uint32_t count = h[4] | (h[5] << 8) | (h[6] << 16) | (static_cast<uint32_t>(h[7]) << 24);
    uint32_t hl = h[8] | (h[9] << 8);
    uint32_t rl = h[10] | (h[11] << 8);
    if (initial) {
      typeByte = h[0];
      bool vfp = typeByte >= 0x30 && typeByte <= 0x32;
      if (hl < 32 + 32 + 1 || hl > size)
        IoError(ecDataError, Name() + " is damaged: its header length (" + std::to_string(hl) +
                                 ") does not fit the file");
      std::vector<uint8_t> hdr(hl);
      if (!FullRead(fd, hdr.data(), hl, 0)) IoError(ecDataError, Name() + " is damaged: header unreadable");
      fields.clear();
      layouts.clear();
      uint32_t off = 32;
      int recOffset = 1;
      std::set<std::string> names;
      while (true) {
        if (off >= hl) IoError(ecDataError, Name() + " is damaged: the field list has no end mark");
        if (hdr[off] == 0x0D) break;
        if (off + 32 > hl) IoError(ecDataError, Name() + " is damaged: a field descriptor is cut short");
        const uint8_t* d = &hdr[off];
        std::string name(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
        XbaseField f;
        f.name = Upper(name);
        f.type = static_cast<char>(d[11]);
        f.width = d[16];
        f.decimals = d[17];
        if (!ValidName(f.name, 10) || !names.insert(f.name).second)
          IoError(ecDataError, Name() + " is damaged: field " + std::to_string(fields.size() + 1) +
                                   " has a bad name");
        if (!std::isalpha(static_cast<unsigned char>(f.type)) || f.width == 0 ||
            (f.type == 'D' && f.width != 8) || (f.type == 'L' && f.width != 1) ||
            ((f.type == 'N' || f.type == 'F') && (f.width > 20 || f.decimals >= f.width)))
          IoError(ecDataError, Name() + " is damaged: field " + f.name + " has a bad type or width");
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
        FieldLayout l;
        l.name = f.name;
        l.type = f.type;
        l.offset = recOffset;
        l.width = f.width;
        l.decimals = f.decimals;
        recOffset += f.width;
        fields.push_back(f);
        layouts.push_back(l);
        off += 32;
      }
      if (fields.empty()) IoError(ecDataError, Name() + " is damaged: it has no fields");
      if (vfp && off + 1 + 263 > hl)
        IoError(ecDataError, Name() + " is damaged: the header is too short for its kind");
      if (static_cast<uint32_t>(recOffset) != rl)
        IoError(ecDataError, Name() + " is damaged: the record length (" + std::to_string(rl) +
                                 ") disagrees with the fields (" + std::to_string(recOffset) + ")");
      headerLength = hl;
      recordLength = rl;
      flagsByte = h[28];
      blockRecords = std::max<uint32_t>(1, 8192 / rl);
    } else if (hl != headerLength || rl != recordLength) {
      IoError(ecDataError, Name() + " was changed by another program in a way that cannot be followed");
    }
    uint64_t available = (size - headerLength) / recordLength;
    if (count > available)
      IoError(ecDataError, Name() + " is damaged: its header counts " + std::to_string(count) +
                               " records but the file holds " + std::to_string(available));
    if (!initial && count != recordCount) {
      blocks.clear();
      visibleValid = false;
    }
    recordCount = count;
  }

  const uint8_t* Record(uint32_t r) {
    uint32_t b = (r - 1) / blockRecords;
    auto it = blocks.find(b);
    if (it == blocks.end()) {
      if (blocks.size() > 8192) blocks.clear();
      uint32_t first = b * blockRecords + 1;
      uint32_t n = std::min(blockRecords, recordCount - first + 1);
      std::vector<uint8_t> data(static_cast<size_t>(n) * recordLength);
      if (!FullRead(fd, data.data(), data.size(),
                    static_cast<off_t>(headerLength) + static_cast<off_t>(first - 1) * recordLength))
        IoError(ecReadBeyondEOF, "Cannot read record " + std::to_string(r) + " of " + dbfPath.string());
      it = blocks.emplace(b, std::move(data)).first;
    }
    size_t at = static_cast<size_t>((r - 1) % blockRecords) * recordLength;
    if (at + recordLength > it->second.size()) {
      blocks.erase(it);
      return Record(r);
    }
    return it->second.data() + at;
  }

  void WriteRecord(uint32_t r, const uint8_t* data) {
    off_t at = static_cast<off_t>(headerLength) + static_cast<off_t>(r - 1) * recordLength;
    if (!FullWrite(fd, data, recordLength, at))
      IoError(FileErrorFromErrno(errno), "Cannot write record " + std::to_string(r) + " of " +
                                             dbfPath.string() + ": " + std::strerror(errno));
    uint32_t b = (r - 1) / blockRecords;
    auto it = blocks.find(b);
    if (it != blocks.end()) {
      size_t pos = static_cast<size_t>((r - 1) % blockRecords) * recordLength;
      if (pos + recordLength <= it->second.size()) std::memcpy(it->second.data() + pos, data, recordLength);
      else blocks.erase(it);
    }
  }

  void WriteCount(uint32_t count) {
    uint8_t h[7];
    TodayBytes(h, typeByte >= 0x30 && typeByte <= 0x32);
    for (int i = 0; i < 4; ++i) h[3 + i] = static_cast<uint8_t>(count >> (8 * i));
    if (!FullWrite(fd, h, 7, 1))
      IoError(FileErrorFromErrno(errno), "Cannot write the header of " + dbfPath.string());
    recordCount = count;
  }

  void WriteFlags() {
    if (!FullWrite(fd, &flagsByte, 1, 28))
      IoError(FileErrorFromErrno(errno), "Cannot write the header of " + dbfPath.string());
  }

  // ---- Locks for shared use ----

  struct OpLock {
    Impl& t;
    bool taken = false;
    OpLock(Impl& table, bool write) : t(table) {
      if (write && t.readOnly) BadArgument(t.dbfPath.string() + " is open for reading only");
      if (t.exclusive || t.fd < 0) return;
      if (t.lockDepth > 0) {
        if (write && !t.lockIsWrite) BadArgument("Internal lock order error on " + t.Name());
        ++t.lockDepth;
        taken = true;
        return;
      }
      int err = LockByte(t.fd, kUpdateLockByte, write ? F_WRLCK : F_RDLCK, true);
      if (err != 0) IoError(ecAccessDenied, "Cannot lock " + t.dbfPath.string() + ": " + std::strerror(err));
      t.lockDepth = 1;
      t.lockIsWrite = write;
      taken = true;
      try {
        t.Sync();
      } catch (...) {
        Release();
        throw;
      }
    }
    void Release() {
      if (taken && --t.lockDepth == 0) LockByte(t.fd, kUpdateLockByte, F_UNLCK, false);
      taken = false;
    }
    ~OpLock() { Release(); }
  };

  // Shared use: takes in what another program changed.
  void Sync() {
    // Another program may have changed any row: cached rows and positions
    // are dropped (shared tables are the small ones).
    blocks.clear();
    visibleValid = false;
    ReadHeader(false);
    if (recno) SetCurrent(recno <= recordCount ? recno : 0);
    if (index) {
      bool changedIndex = false;
      try {
        changedIndex = index->RefreshIfChanged();
        if (changedIndex) LoadTagExpressions();
      } catch (const IndexDamaged& e) {
        SetAside(e.what());
        changedIndex = true;
      }
      if (changedIndex) {
        cursorValid = false;
        visibleValid = false;
        if (order > static_cast<int>(tagExprs.size())) order = 0;
      }
    }
  }

  // ---- Index ----

  void LoadTagExpressions() {
    tagExprs.clear();
    const auto& tags = index->Tags();
    for (size_t i = 0; i < tags.size(); ++i) {
      TagExpr te;
      try {
        te.key = Expression::Parse(tags[i].keyExpression, layouts);
        te.forCond = Expression::Parse(tags[i].forExpression, layouts);
      } catch (const ETvException& e) {
        throw IndexDamaged(IndexName() + ": tag " + tags[i].name + ": " + e.what());
      }
      if (te.key.IsEmpty()) throw IndexDamaged(IndexName() + ": tag " + tags[i].name + " has no key");
      if (!te.forCond.IsEmpty() && te.forCond.Type() != xbase::ValueType::vtLogical)
        throw IndexDamaged(IndexName() + ": tag " + tags[i].name + " has a FOR condition that is not logical");
      index->SetPad(i, te.key.PadByte());
      tagExprs.push_back(std::move(te));
    }
  }

  // Renames an unreadable index file aside and goes on without it.
  void SetAside(const std::string& reason) {
    if (readOnly) IoError(ecDataError, reason);
    if (index) index->Close();
    index.reset();
    tagExprs.clear();
    order = 0;
    cursorValid = false;
    visibleValid = false;
    std::filesystem::path target;
    for (int i = 0; i < 1000; ++i) {
      target = cdxPath;
      target += i == 0 ? std::string(".damaged") : ".damaged" + std::to_string(i);
      std::error_code ec;
      if (!std::filesystem::exists(target, ec)) break;
    }
    std::error_code ec;
    std::filesystem::rename(cdxPath, target, ec);
    indexStatus = XbaseIndexStatus::isSetAside;
    indexStatusText = reason + "; the index file was set aside as " + target.filename().string();
    if (ec) indexStatusText = reason + "; the index file could not be set aside: " + ec.message();
  }

  std::vector<IndexEntry> BuildEntries(const TagExpr& te, int keyLength, bool unique, int from, int to) {
    std::vector<IndexEntry> entries;
    entries.reserve(recordCount);
    int lastPercent = -1;
    for (uint32_t r = 1; r <= recordCount; ++r) {
      const uint8_t* rec = Record(r);
      if (te.forCond.IsTrue(rec, r)) entries.push_back({te.key.Key(rec, r, keyLength), r, 0});
      int pct = from + static_cast<int>(static_cast<uint64_t>(to - from) * r / std::max<uint32_t>(1, recordCount));
      if (pct != lastPercent && (r % 256 == 0 || r == recordCount)) {
        Progress(pct);
        lastPercent = pct;
      }
    }
    std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) {
      int c = a.key.compare(b.key);
      return c != 0 ? c < 0 : a.record < b.record;
    });
    if (unique) {
      entries.erase(std::unique(entries.begin(), entries.end(),
                                [](const IndexEntry& a, const IndexEntry& b) { return a.key == b.key; }),
                    entries.end());
    }
    return entries;
  }

  // Writes a complete new index file with the given tags from the rows and
  // renames it over the old one.
  void WriteNewIndex(const std::vector<IndexTag>& tags, const std::vector<TagExpr*>& exprs,
                     const std::filesystem::path& target) {
    std::filesystem::path tmp = target;
    tmp += ".new";
    IndexFile::CreateEmpty(tmp);
    {
      IndexFile f;
      f.Open(tmp, true);
      for (size_t i = 0; i < tags.size(); ++i) {
        IndexTag t = tags[i];
        t.pad = exprs[i]->key.PadByte();
        auto entries = BuildEntries(*exprs[i], t.keyLength, t.unique(),
                                    static_cast<int>(100 * i / tags.size()),
                                    static_cast<int>(100 * (i + 1) / tags.size()));
        f.AddTag(t, entries, recordCount);
      }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, target, ec);
    if (ec) {
      std::filesystem::remove(tmp, ec);
      IoError(ecAccessDenied, "Cannot replace " + target.string());
    }
  }

  void AttachIndex() {
    index.reset();
    tagExprs.clear();
    indexStatus = XbaseIndexStatus::isNone;
    indexStatusText.clear();
    std::filesystem::path found = FindCaseBlind(folder, cdxPath.filename().string());
    std::error_code ec;
    if (!std::filesystem::exists(found, ec)) return;
    cdxPath = found;
    try {
      auto f = std::make_unique<IndexFile>();
      f->Open(cdxPath, !readOnly);
      f->SetShared(!exclusive);
      index = std::move(f);
      LoadTagExpressions();
      if (index->WasInterrupted() && readOnly) {
        indexStatusText = IndexName() + " was being changed when its program stopped; it is made again at the next open";
      } else if (index->WasInterrupted()) {
        // A change was cut short: the tags are made again from the rows.
        std::vector<IndexTag> tags = index->Tags();
        std::vector<TagExpr*> exprs;
        for (auto& te : tagExprs) exprs.push_back(&te);
        WriteNewIndex(tags, exprs, cdxPath);
        index = std::make_unique<IndexFile>();
        index->Open(cdxPath, true);
        index->SetShared(!exclusive);
        LoadTagExpressions();
      }
      indexStatus = XbaseIndexStatus::isAttached;
    } catch (const IndexDamaged& e) {
      if (readOnly) IoError(ecDataError, e.what());
      SetAside(e.what());
    } catch (const EInOutError& e) {
      if (readOnly) throw;
      SetAside(e.what());
    }
  }

  // ---- Views ----

  bool Visible(uint32_t r) {
    if (r < 1 || r > recordCount) return false;
    const uint8_t* rec = Record(r);
    if (rec[0] == '*') return false;
    return filter.IsTrue(rec, r);
  }

  size_t TagIndex() const { return static_cast<size_t>(order - 1); }
  bool Descending() const { return order > 0 && index->Tags()[TagIndex()].descending; }

  // Tag-order cursor on the current row, or on the place it would have.
  bool SeekCurrent() {
    const auto& te = tagExprs[TagIndex()];
    const auto& tag = index->Tags()[TagIndex()];
    std::string key = te.key.Key(Record(recno), recno, tag.keyLength);
    cursor = index->Seek(TagIndex(), key, recno);
    cursorValid = true;
    return cursor.Valid() && index->At(TagIndex(), cursor).record == recno &&
           index->At(TagIndex(), cursor).key == key;
  }

  void SetCurrent(uint32_t r) {
    recno = r;
    if (r) {
      const uint8_t* rec = Record(r);
      current.assign(rec, rec + recordLength);
    } else {
      current.clear();
    }
  }

  // Moves in view order from the cursor (tag order) or record (physical).
  // forward: towards the end of the view. `include` takes the start itself.
  uint32_t Scan(bool forward, bool fromEnd) {
    if (order == 0) {
      if (fromEnd) {
        if (forward) {
          for (uint32_t r = 1; r <= recordCount; ++r) if (Visible(r)) return r;
        } else {
          for (uint32_t r = recordCount; r >= 1; --r) if (Visible(r)) return r;
        }
        return 0;
      }
      if (forward) {
        for (uint32_t r = recno + 1; r <= recordCount; ++r) if (Visible(r)) return r;
      } else {
        for (uint32_t r = recno - 1; r >= 1; --r) if (Visible(r)) return r;
      }
      return 0;
    }
    size_t t = TagIndex();
    bool storedForward = forward != Descending();
    IndexCursor c;
    if (fromEnd) {
      c = storedForward ? index->First(t) : index->Last(t);
    } else {
      bool onIt = cursorValid && cursor.Valid() ? index->At(t, cursor).record == recno : SeekCurrent();
      if (!cursor.Valid()) c = storedForward ? IndexCursor{} : index->Last(t);
      else if (storedForward) c = onIt ? index->Next(t, cursor) : cursor;
      else c = index->Prior(t, cursor);
    }
    while (c.Valid()) {
      uint32_t r = index->At(t, c).record;
      if (Visible(r)) {
        cursor = c;
        cursorValid = true;
        return r;
      }
      c = storedForward ? index->Next(t, c) : index->Prior(t, c);
    }
    return 0;
  }

  void MoveFirst() {
    cursorValid = false;
    uint32_t r = Scan(true, true);
    SetCurrent(r);
    eof = r == 0;
    bof = true;
  }

  void InvalidateView() {
    cursorValid = false;
    visibleValid = false;
  }

  const std::vector<uint32_t>& Visibles() {
    if (visibleValid) return visible;
    visible.clear();
    positionsValid = false;
    if (order == 0) {
      for (uint32_t r = 1; r <= recordCount; ++r)
        if (Visible(r)) visible.push_back(r);
    } else {
      std::vector<uint32_t> all = index->AllRecords(TagIndex());
      if (Descending()) std::reverse(all.begin(), all.end());
      for (uint32_t r : all)
        if (Visible(r)) visible.push_back(r);
    }
    visibleValid = true;
    return visible;
  }

  // ---- Writing with the tags kept up to date ----

  void UpdateTags(uint32_t r, const uint8_t* oldRec, const uint8_t* newRec) {
    if (!index) return;
    const auto& tags = index->Tags();
    for (size_t i = 0; i < tagExprs.size(); ++i) {
      const auto& te = tagExprs[i];
      int L = tags[i].keyLength;
      bool oldIn = oldRec && te.forCond.IsTrue(oldRec, r);
      bool newIn = newRec && te.forCond.IsTrue(newRec, r);
      std::string oldKey = oldIn ? te.key.Key(oldRec, r, L) : std::string();
      std::string newKey = newIn ? te.key.Key(newRec, r, L) : std::string();
      if (oldIn && newIn && oldKey == newKey) continue;
      if (oldIn) index->Remove(i, oldKey, r);
      if (newIn) {
        if (tags[i].unique() && index->ContainsKey(i, newKey)) continue;
        index->Insert(i, newKey, r);
      }
    }
  }

  template <class F>
  auto Guarded(F f) -> decltype(f()) {
    try {
      return f();
    } catch (const IndexDamaged& e) {
      if (index) index->EndUpdate();
      SetAside(e.what());
      Notify(XbaseChange::xcReopened);
      IoError(ecDataError, indexStatusText);
    }
  }

  int FieldOf(const std::string& name) const {
    std::string n = Upper(name);
    for (size_t i = 0; i < fields.size(); ++i)
      if (fields[i].name == n) return static_cast<int>(i);
    return -1;
  }

  int CheckField(int f) const {
    if (f < 0 || f >= static_cast<int>(fields.size()))
      BadArgument(Name() + ": there is no field number " + std::to_string(f));
    return f;
  }

  int CheckField(const std::string& name) const {
    int f = FieldOf(name);
    if (f < 0) BadArgument(Name() + ": there is no field named " + name);
    return f;
  }

  // Raw text of a field in the row the caller sees.
  std::string Raw(int f) const {
    const std::vector<uint8_t>& row = state != XbaseEditState::esBrowse ? buffer : current;
    if (row.empty()) return {};
    const FieldLayout& l = layouts[f];
    return std::string(reinterpret_cast<const char*>(row.data() + l.offset), l.width);
  }

  void Put(int f, const std::string& text) {
    if (state == XbaseEditState::esBrowse)
      BadArgument(Name() + ": a value can only be set after Append or Edit");
    const FieldLayout& l = layouts[f];
    std::string t = text;
    t.resize(l.width, ' ');
    std::memcpy(buffer.data() + l.offset, t.data(), l.width);
  }
};

XbaseTable::XbaseTable() : impl_(std::make_unique<Impl>()) {}
XbaseTable::~XbaseTable() {
  impl_->changed = nullptr;  // no notifications from a table being destroyed
  Close();
}

void XbaseTable::OpenReadOnly(const std::filesystem::path& folder, const std::string& fileName) {
  impl_->readOnly = true;
  try {
    Open(folder, fileName, false);
  } catch (...) {
    impl_->readOnly = false;
    throw;
  }
}

void XbaseTable::Open(const std::filesystem::path& folder, const std::string& fileName, bool exclusive) {
  Close();
  Impl& t = *impl_;
  t.folder = folder;
  t.dbfPath = FindCaseBlind(folder, fileName);
  t.fd = ::open(t.dbfPath.c_str(), (t.readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (t.fd < 0) {
    int err = errno;
    IoError(FileErrorFromErrno(err), "Cannot open " + t.dbfPath.string() + ": " + std::strerror(err));
  }
  t.exclusive = exclusive;
  int err = LockByte(t.fd, kOpenLockByte, exclusive ? F_WRLCK : F_RDLCK, false);
  if (err == EBADF) err = 0;  // read-only descriptors cannot hold write locks
  if (err != 0) {
    ::close(t.fd);
    t.fd = -1;
    IoError(ecAccessDenied, t.dbfPath.string() + " is in use by another program");
  }
  if (!exclusive) {
    // Reading the header and any repair of the index happen under the
    // write lock, so that no other program changes the files meanwhile.
    int lerr = LockByte(t.fd, kUpdateLockByte, t.readOnly ? F_RDLCK : F_WRLCK, true);
    if (lerr != 0) {
      ::close(t.fd);
      t.fd = -1;
      IoError(ecAccessDenied, "Cannot lock " + t.dbfPath.string() + ": " + std::strerror(lerr));
    }
    t.lockDepth = 1;
    t.lockIsWrite = !t.readOnly;
  }
  try {
    t.ReadHeader(true);
    t.blocks.clear();
    std::string base = t.dbfPath.stem().string();
    t.cdxPath = folder / (base + ".CDX");
    t.AttachIndex();
    if (!t.filterText.empty()) {
      try {
        t.filter = Expression::Parse(t.filterText, t.layouts);
      } catch (const ETvException&) {
        t.filter = Expression();
        t.filterText.clear();
      }
    }
    t.order = 0;
    t.state = XbaseEditState::esBrowse;
    t.InvalidateView();
    t.Guarded([&] { t.MoveFirst(); });
  } catch (...) {
    t.index.reset();
    t.lockDepth = 0;
    ::close(t.fd);
    t.fd = -1;
    throw;
  }
  if (!exclusive) {
    t.lockDepth = 0;
    LockByte(t.fd, kUpdateLockByte, F_UNLCK, false);
  }
  t.Notify(XbaseChange::xcReopened);
}

void XbaseTable::Close() {
  Impl& t = *impl_;
  if (t.fd < 0) return;
  t.index.reset();
  t.tagExprs.clear();
  ::close(t.fd);
  t.fd = -1;
  t.readOnly = false;
  t.blocks.clear();
  t.recno = 0;
  t.current.clear();
  t.buffer.clear();
  t.state = XbaseEditState::esBrowse;
  t.order = 0;
  t.InvalidateView();
  t.Notify(XbaseChange::xcReopened);
}

bool XbaseTable::IsOpen() const { return impl_->fd >= 0; }
bool XbaseTable::IsExclusive() const { return impl_->exclusive; }
std::filesystem::path XbaseTable::FilePath() const { return impl_->dbfPath; }
std::filesystem::path XbaseTable::IndexFilePath() const { return impl_->cdxPath; }
XbaseIndexStatus XbaseTable::IndexStatus() const { return impl_->indexStatus; }
std::string XbaseTable::IndexStatusText() const { return impl_->indexStatusText; }

int XbaseTable::FieldCount() const { return static_cast<int>(impl_->fields.size()); }
const XbaseField& XbaseTable::Field(int index) const { return impl_->fields[impl_->CheckField(index)]; }
int XbaseTable::FieldIndex(const std::string& name) const { return impl_->FieldOf(name); }
int XbaseTable::TableTypeByte() const { return impl_->typeByte; }

void XbaseTable::CreateIndexTag(const std::string& tag, const std::string& keyExpression, bool unique,
                                bool descending, const std::string& forCondition) {
  Impl& t = *impl_;
  t.RequireOpen();
  std::string name = Upper(tag);
  if (!ValidName(name, 10)) BadArgument(t.Name() + ": \"" + tag + "\" is not a valid tag name");
  Impl::TagExpr te;
  try {
    te.key = Expression::Parse(keyExpression, t.layouts);
    te.forCond = Expression::Parse(forCondition, t.layouts);
  } catch (const ETvException& e) {
    BadArgument(t.Name() + ", tag " + name + ": " + e.what());
  }
  if (te.key.IsEmpty()) BadArgument(t.Name() + ", tag " + name + ": the key expression is empty");
  if (te.key.Type() == xbase::ValueType::vtChar && te.key.Width() < 1)
    BadArgument(t.Name() + ", tag " + name + ": the key expression gives an empty key");
  if (!te.forCond.IsEmpty() && te.forCond.Type() != xbase::ValueType::vtLogical)
    BadArgument(t.Name() + ", tag " + name + ": the FOR condition is not logical");
  Impl::OpLock lock(t, true);
  t.Guarded([&] {
    if (!t.index) {
      std::error_code ec;
      std::filesystem::path found = FindCaseBlind(t.folder, t.cdxPath.filename().string());
      if (std::filesystem::exists(found, ec)) {
        t.AttachIndex();
      }
      if (!t.index) {
        std::filesystem::path tmp = t.cdxPath;
        tmp += ".new";
        IndexFile::CreateEmpty(tmp);
        std::filesystem::rename(tmp, t.cdxPath, ec);
        if (ec) IoError(ecAccessDenied, "Cannot create " + t.cdxPath.string() + ": " + ec.message());
        t.index = std::make_unique<IndexFile>();
        t.index->Open(t.cdxPath, true);
        t.index->SetShared(!t.exclusive);
        t.indexStatus = XbaseIndexStatus::isAttached;
      }
      if (!(t.flagsByte & 0x01)) {
        t.flagsByte |= 0x01;
        t.WriteFlags();
      }
    }
    for (const auto& existing : t.index->Tags())
      if (existing.name == name) BadArgument(t.Name() + ": the tag " + name + " already exists");
    IndexTag it;
    it.name = name;
    it.keyExpression = keyExpression;
    it.forExpression = forCondition;
    it.keyLength = te.key.KeyLength();
    it.descending = descending;
    it.options = static_cast<uint8_t>(0x60 | (unique ? 0x01 : 0) | (te.forCond.IsEmpty() ? 0 : 0x08));
    it.pad = te.key.PadByte();
    t.Progress(0);
    auto entries = t.BuildEntries(te, it.keyLength, unique, 0, 90);
    t.index->BeginUpdate();
    t.index->AddTag(it, entries, t.recordCount);
    t.index->EndUpdate();
    t.tagExprs.push_back(std::move(te));
    t.order = static_cast<int>(t.tagExprs.size());
    t.InvalidateView();
    if (t.recno) t.SetCurrent(t.recno);
    t.Progress(100);
  });
  t.Notify(XbaseChange::xcReopened);
}

int XbaseTable::TagCount() const { return static_cast<int>(impl_->tagExprs.size()); }

XbaseTagInfo XbaseTable::TagInfo(int number) const {
  const Impl& t = *impl_;
  if (number < 1 || number > TagCount()) BadArgument(t.Name() + ": there is no tag number " + std::to_string(number));
  const IndexTag& tag = t.index->Tags()[number - 1];
  return {tag.name, tag.keyExpression, tag.forExpression, tag.descending, tag.unique()};
}

int XbaseTable::SetOrderByNumber(int number) {
  Impl& t = *impl_;
  t.RequireOpen();
  if (number < 0 || number > TagCount()) BadArgument(t.Name() + ": there is no order number " + std::to_string(number));
  int previous = t.order;
  if (number == previous) return previous;
  Impl::OpLock lock(t, false);
  t.order = number;
  t.InvalidateView();
  if (t.recno && !t.Visible(t.recno)) t.Guarded([&] { t.MoveFirst(); });
  else if (t.recno && number > 0) {
    bool inTag = t.Guarded([&] { return t.SeekCurrent(); });
    if (!inTag) t.Guarded([&] { t.MoveFirst(); });
  }
  t.Notify(XbaseChange::xcDataChanged);
  return previous;
}

int XbaseTable::SetOrderByName(const std::string& tag) {
  if (tag.empty()) return SetOrderByNumber(0);
  int n = OrderNumberOf(tag);
  if (n == 0) BadArgument(impl_->Name() + ": there is no tag named " + tag);
  return SetOrderByNumber(n);
}

int XbaseTable::CurrentOrder() const { return impl_->order; }

int XbaseTable::OrderNumberOf(const std::string& tag) const {
  const Impl& t = *impl_;
  if (!t.index) return 0;
  std::string n = Upper(tag);
  const auto& tags = t.index->Tags();
  for (size_t i = 0; i < t.tagExprs.size(); ++i)
    if (tags[i].name == n) return static_cast<int>(i + 1);
  return 0;
}

void XbaseTable::CloseIndexFiles() {
  Impl& t = *impl_;
  t.index.reset();
  t.tagExprs.clear();
  t.order = 0;
  t.indexStatus = XbaseIndexStatus::isNone;
  t.indexStatusText.clear();
  t.InvalidateView();
  t.Notify(XbaseChange::xcReopened);
}

void XbaseTable::SetFilterExpression(const std::string& expression) {
  Impl& t = *impl_;
  if (t.fd < 0) {
    t.filterText = expression;
    return;
  }
  Expression e;
  try {
    e = Expression::Parse(expression, t.layouts);
  } catch (const ETvException& ex) {
    BadArgument(t.Name() + ": filter: " + ex.what());
  }
  if (!e.IsEmpty() && e.Type() != xbase::ValueType::vtLogical)
    BadArgument(t.Name() + ": the filter \"" + expression + "\" is not a logical expression");
  Impl::OpLock lock(t, false);
  t.filter = std::move(e);
  t.filterText = expression;
  t.InvalidateView();
  if (!t.recno || !t.Visible(t.recno)) t.Guarded([&] { t.MoveFirst(); });
  t.Notify(XbaseChange::xcDataChanged);
}

std::string XbaseTable::FilterExpression() const { return impl_->filterText; }

int XbaseTable::FilterCount() { return VisibleCount(); }

int XbaseTable::RecordCount() const { return static_cast<int>(impl_->recordCount); }

int XbaseTable::RecordNumber() const {
  const Impl& t = *impl_;
  if (t.state == XbaseEditState::esInsert || t.recno == 0) return static_cast<int>(t.recordCount) + 1;
  return static_cast<int>(t.recno);
}

void XbaseTable::GoToRecord(int recordNumber) {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  if (recordNumber < 1 || static_cast<uint32_t>(recordNumber) > t.recordCount)
    throw ERecordNotFound(ecRecordNotFound, t.Name() + ": there is no record " + std::to_string(recordNumber));
  if (!t.Visible(static_cast<uint32_t>(recordNumber)))
    throw ERecordNotFound(ecRecordNotFound, t.Name() + ": record " + std::to_string(recordNumber) +
                                                " is deleted or hidden by the filter");
  if (t.order > 0) {
    t.recno = static_cast<uint32_t>(recordNumber);
    bool inTag = t.Guarded([&] { return t.SeekCurrent(); });
    if (!inTag)
      throw ERecordNotFound(ecRecordNotFound, t.Name() + ": record " + std::to_string(recordNumber) +
                                                  " is not in the current order");
  }
  t.state = XbaseEditState::esBrowse;
  t.SetCurrent(static_cast<uint32_t>(recordNumber));
  t.eof = t.bof = false;
  t.Notify(XbaseChange::xcRowMoved);
}

void XbaseTable::First() {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  t.state = XbaseEditState::esBrowse;
  t.Guarded([&] { t.MoveFirst(); });
  t.Notify(XbaseChange::xcRowMoved);
}

void XbaseTable::Last() {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  t.state = XbaseEditState::esBrowse;
  t.cursorValid = false;
  uint32_t r = t.Guarded([&] { return t.Scan(false, true); });
  t.SetCurrent(r);
  t.eof = true;
  t.bof = r == 0;
  if (r) t.eof = false;
  t.Notify(XbaseChange::xcRowMoved);
}

void XbaseTable::Next() {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  t.state = XbaseEditState::esBrowse;
  if (t.recno == 0) {
    t.eof = true;
    return;
  }
  uint32_t r = t.Guarded([&] { return t.Scan(true, false); });
  t.bof = false;
  if (r == 0) {
    t.eof = true;
    t.SetCurrent(0);
  } else {
    t.SetCurrent(r);
  }
  t.Notify(XbaseChange::xcRowMoved);
}

void XbaseTable::Prior() {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  t.state = XbaseEditState::esBrowse;
  uint32_t r;
  if (t.recno == 0) {
    t.cursorValid = false;
    r = t.Guarded([&] { return t.Scan(false, true); });
  } else {
    r = t.Guarded([&] { return t.Scan(false, false); });
  }
  t.eof = false;
  if (r == 0) {
    t.bof = true;
    if (t.recno == 0) t.eof = true;
  } else {
    t.bof = false;
    t.SetCurrent(r);
  }
  t.Notify(XbaseChange::xcRowMoved);
}

bool XbaseTable::Eof() const { return impl_->eof || impl_->recno == 0; }
bool XbaseTable::Bof() const { return impl_->bof; }

int XbaseTable::VisibleCount() {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  return static_cast<int>(t.Guarded([&] { return t.Visibles().size(); }));
}

void XbaseTable::GoToPosition(int position) {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  const auto& v = t.Guarded([&]() -> const std::vector<uint32_t>& { return t.Visibles(); });
  if (position < 0 || position >= static_cast<int>(v.size()))
    throw ERecordNotFound(ecRecordNotFound, t.Name() + ": there is no row at position " + std::to_string(position));
  t.state = XbaseEditState::esBrowse;
  t.SetCurrent(v[position]);
  t.cursorValid = false;
  t.eof = t.bof = false;
  t.Notify(XbaseChange::xcRowMoved);
}

int XbaseTable::PositionOf(int recordNumber) {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  const auto& v = t.Guarded([&]() -> const std::vector<uint32_t>& { return t.Visibles(); });
  if (!t.positionsValid) {
    t.positionOf.clear();
    for (size_t i = 0; i < v.size(); ++i) t.positionOf[v[i]] = static_cast<int>(i);
    t.positionsValid = true;
  }
  auto it = t.positionOf.find(static_cast<uint32_t>(recordNumber));
  return it == t.positionOf.end() ? -1 : it->second;
}

void XbaseTable::Append() {
  Impl& t = *impl_;
  t.RequireOpen();
  t.buffer.assign(t.recordLength, ' ');
  t.state = XbaseEditState::esInsert;
}

void XbaseTable::Edit() {
  Impl& t = *impl_;
  t.RequireOpen();
  if (t.state != XbaseEditState::esBrowse) return;
  if (t.recno == 0) BadArgument(t.Name() + ": there is no current row to edit");
  if (t.readOnly) BadArgument(t.dbfPath.string() + " is open for reading only");
  Impl::OpLock lock(t, false);
  t.SetCurrent(t.recno);
  t.buffer = t.current;
  t.state = XbaseEditState::esEdit;
}

void XbaseTable::Post() {
  Impl& t = *impl_;
  t.RequireOpen();
  if (t.state == XbaseEditState::esBrowse) return;
  Impl::OpLock lock(t, true);
  t.Guarded([&] {
    if (t.state == XbaseEditState::esInsert) {
      uint32_t r = t.recordCount + 1;
      t.buffer[0] = ' ';
      // The record (and end mark) first, then the tags, then the count:
      // a stop in between leaves the row out and the tags are made again.
      std::vector<uint8_t> out = t.buffer;
      out.push_back(0x1A);
      off_t at = static_cast<off_t>(t.headerLength) + static_cast<off_t>(r - 1) * t.recordLength;
      if (!FullWrite(t.fd, out.data(), out.size(), at))
        IoError(FileErrorFromErrno(errno), "Cannot append to " + t.dbfPath.string() + ": " + std::strerror(errno));
      if (t.index) t.index->BeginUpdate();
      t.UpdateTags(r, nullptr, t.buffer.data());
      t.WriteCount(r);
      // Keep the cached block of the new row whole.
      auto blk = t.blocks.find((r - 1) / t.blockRecords);
      if (blk != t.blocks.end()) {
        if (blk->second.size() == static_cast<size_t>((r - 1) % t.blockRecords) * t.recordLength)
          blk->second.insert(blk->second.end(), t.buffer.begin(), t.buffer.end());
        else
          t.blocks.erase(blk);
      }
      if (t.index) t.index->EndUpdate();
      t.recno = r;
    } else {
      std::vector<uint8_t> old(t.Record(t.recno), t.Record(t.recno) + t.recordLength);
      if (t.index) t.index->BeginUpdate();
      t.WriteRecord(t.recno, t.buffer.data());
      t.UpdateTags(t.recno, old.data(), t.buffer.data());
      if (t.index) t.index->EndUpdate();
    }
    t.state = XbaseEditState::esBrowse;
    t.SetCurrent(t.recno);
    t.eof = t.bof = false;
    t.InvalidateView();
  });
  t.Notify(XbaseChange::xcDataChanged);
}

void XbaseTable::Cancel() {
  Impl& t = *impl_;
  t.state = XbaseEditState::esBrowse;
  t.buffer.clear();
}

void XbaseTable::Delete() {
  Impl& t = *impl_;
  t.RequireOpen();
  if (t.state == XbaseEditState::esInsert) {
    Cancel();
    return;
  }
  t.state = XbaseEditState::esBrowse;
  if (t.recno == 0) BadArgument(t.Name() + ": there is no current row to delete");
  Impl::OpLock lock(t, true);
  t.Guarded([&] {
    uint32_t r = t.recno;
    std::vector<uint8_t> old(t.Record(r), t.Record(r) + t.recordLength);
    if (old[0] == '*') return;
    // The row after the deleted one becomes current.
    t.cursorValid = false;
    uint32_t next = t.Scan(true, false);
    std::vector<uint8_t> now = old;
    now[0] = '*';
    if (t.index) t.index->BeginUpdate();
    t.WriteRecord(r, now.data());
    t.UpdateTags(r, old.data(), now.data());
    if (t.index) t.index->EndUpdate();
    t.InvalidateView();
    t.SetCurrent(next);
    t.eof = next == 0;
  });
  t.Notify(XbaseChange::xcDataChanged);
}

void XbaseTable::Refresh() {
  Impl& t = *impl_;
  t.RequireOpen();
  t.blocks.clear();
  Impl::OpLock lock(t, false);
  if (t.exclusive) t.ReadHeader(false);
  t.InvalidateView();
  if (t.recno && t.recno <= t.recordCount) t.SetCurrent(t.recno);
  else t.SetCurrent(0);
  t.Notify(XbaseChange::xcDataChanged);
}

XbaseEditState XbaseTable::State() const { return impl_->state; }

bool XbaseTable::IsDeleted() const {
  const Impl& t = *impl_;
  return !t.current.empty() && t.current[0] == '*';
}

std::string XbaseTable::AsString(int field) const {
  const Impl& t = *impl_;
  int f = t.CheckField(field);
  std::string raw = t.Raw(f);
  switch (t.fields[f].type) {
    case 'N':
    case 'F': return Trim(raw);
    case 'D': return TrimRight(raw);
    default: return TrimRight(raw);
  }
}
std::string XbaseTable::AsString(const std::string& field) const { return AsString(impl_->CheckField(field)); }

bool XbaseTable::AsBoolean(int field) const {
  std::string raw = impl_->Raw(impl_->CheckField(field));
  return !raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y');
}
bool XbaseTable::AsBoolean(const std::string& field) const { return AsBoolean(impl_->CheckField(field)); }

std::string XbaseTable::AsDate(int field) const {
  std::string raw = impl_->Raw(impl_->CheckField(field));
  if (raw.size() < 8 || xbase::JulianDayOfText(raw.data(), 8) == 0) return {};
  return raw.substr(0, 8);
}
std::string XbaseTable::AsDate(const std::string& field) const { return AsDate(impl_->CheckField(field)); }

XbaseDate XbaseTable::AsDateParts(int field) const {
  std::string d = AsDate(field);
  XbaseDate out;
  if (d.size() == 8) {
    out.year = std::stoi(d.substr(0, 4));
    out.month = std::stoi(d.substr(4, 2));
    out.day = std::stoi(d.substr(6, 2));
  }
  return out;
}
XbaseDate XbaseTable::AsDateParts(const std::string& field) const { return AsDateParts(impl_->CheckField(field)); }

int64_t XbaseTable::AsInteger(int field) const {
  std::string s = Trim(impl_->Raw(impl_->CheckField(field)));
  if (s.empty()) return 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || !std::isfinite(v)) return 0;
  return static_cast<int64_t>(v);
}
int64_t XbaseTable::AsInteger(const std::string& field) const { return AsInteger(impl_->CheckField(field)); }

bool XbaseTable::IsBlank(int field) const {
  return Trim(impl_->Raw(impl_->CheckField(field))).empty();
}

void XbaseTable::SetString(int field, const std::string& value) {
  Impl& t = *impl_;
  int f = t.CheckField(field);
  const XbaseField& fd = t.fields[f];
  switch (fd.type) {
    case 'N':
    case 'F': {
      std::string v = Trim(value);
      if (v.empty()) {
        t.Put(f, std::string(fd.width, ' '));
        return;
      }
      char* end = nullptr;
      double d = std::strtod(v.c_str(), &end);
      if (*end != '\0' || !std::isfinite(d))
        BadArgument(t.Name() + ": \"" + value + "\" is not a number for field " + fd.name);
      std::string s = FormatNumber(d, fd.width, fd.decimals);
      if (s.empty()) BadArgument(t.Name() + ": " + v + " does not fit field " + fd.name);
      t.Put(f, s);
      return;
    }
    case 'D': SetDate(f, value); return;
    case 'L': {
      std::string v = Trim(value);
      if (v.empty()) t.Put(f, " ");
      else if (std::strchr("TtYy", v[0])) t.Put(f, "T");
      else if (std::strchr("FfNn", v[0])) t.Put(f, "F");
      else BadArgument(t.Name() + ": \"" + value + "\" is not a logical value for field " + fd.name);
      return;
    }
    default: t.Put(f, value); return;
  }
}
void XbaseTable::SetString(const std::string& field, const std::string& value) { SetString(impl_->CheckField(field), value); }

void XbaseTable::SetBoolean(int field, bool value) {
  Impl& t = *impl_;
  t.Put(t.CheckField(field), value ? "T" : "F");
}
void XbaseTable::SetBoolean(const std::string& field, bool value) { SetBoolean(impl_->CheckField(field), value); }

void XbaseTable::SetDate(int field, const std::string& yyyymmdd) {
  Impl& t = *impl_;
  int f = t.CheckField(field);
  std::string v = Trim(yyyymmdd);
  if (v.empty()) {
    t.Put(f, std::string(t.fields[f].width, ' '));
    return;
  }
  if (v.size() != 8 || xbase::JulianDayOfText(v.data(), 8) == 0)
    BadArgument(t.Name() + ": \"" + yyyymmdd + "\" is not a date (YYYYMMDD) for field " + t.fields[f].name);
  int y, m, d;
  xbase::CivilFromJulianDay(xbase::JulianDayOfText(v.data(), 8), y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  if (v != buf) BadArgument(t.Name() + ": \"" + yyyymmdd + "\" is not a real date for field " + t.fields[f].name);
  t.Put(f, v);
}
void XbaseTable::SetDate(const std::string& field, const std::string& yyyymmdd) { SetDate(impl_->CheckField(field), yyyymmdd); }
void XbaseTable::SetDate(int field, const XbaseDate& date) {
  if (date.IsBlank()) {
    SetDate(field, std::string());
    return;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", date.year, date.month, date.day);
  SetDate(field, std::string(buf));
}
void XbaseTable::SetDate(const std::string& field, const XbaseDate& date) { SetDate(impl_->CheckField(field), date); }

void XbaseTable::SetInteger(int field, int64_t value) {
  Impl& t = *impl_;
  int f = t.CheckField(field);
  const XbaseField& fd = t.fields[f];
  if (fd.type == 'N' || fd.type == 'F') {
    std::string s = FormatNumber(static_cast<double>(value), fd.width, fd.decimals);
    if (s.empty()) BadArgument(t.Name() + ": " + std::to_string(value) + " does not fit field " + fd.name);
    t.Put(f, s);
  } else if (fd.type == 'C') {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) > fd.width)
      BadArgument(t.Name() + ": " + s + " does not fit field " + fd.name);
    t.Put(f, s);
  } else {
    BadArgument(t.Name() + ": field " + fd.name + " does not hold numbers");
  }
}
void XbaseTable::SetInteger(const std::string& field, int64_t value) { SetInteger(impl_->CheckField(field), value); }

void XbaseTable::PackTable() {
  Impl& t = *impl_;
  t.RequireOpen();
  if (!t.exclusive) BadArgument(t.dbfPath.string() + " must be open exclusively to be packed");
  t.state = XbaseEditState::esBrowse;
  t.Progress(0);
  std::filesystem::path newDbf = t.dbfPath;
  newDbf += ".new";
  // The new table: header, live rows, end mark.
  std::vector<uint8_t> header(t.headerLength);
  if (!FullRead(t.fd, header.data(), t.headerLength, 0))
    IoError(ecReadBeyondEOF, "Cannot read " + t.dbfPath.string());
  int out = ::open(newDbf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) IoError(FileErrorFromErrno(errno), "Cannot create " + newDbf.string() + ": " + std::strerror(errno));
  uint32_t kept = 0;
  bool ok = true;
  {
    std::vector<uint8_t> chunk;
    off_t at = t.headerLength;
    int lastPct = -1;
    bool withIndex = t.index != nullptr;
    for (uint32_t r = 1; r <= t.recordCount && ok; ++r) {
      const uint8_t* rec = t.Record(r);
      if (rec[0] != '*') {
        chunk.insert(chunk.end(), rec, rec + t.recordLength);
        ++kept;
      }
      if (chunk.size() >= 1 << 16 || r == t.recordCount) {
        ok = FullWrite(out, chunk.data(), chunk.size(), at);
        at += static_cast<off_t>(chunk.size());
        chunk.clear();
      }
      int pct = static_cast<int>((withIndex ? 50 : 100) * static_cast<uint64_t>(r) / t.recordCount);
      if (pct != lastPct && (r % 256 == 0 || r == t.recordCount)) {
        t.Progress(pct);
        lastPct = pct;
      }
    }
    for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(kept >> (8 * i));
    TodayBytes(&header[1], t.typeByte >= 0x30 && t.typeByte <= 0x32);
    uint8_t eofMark = 0x1A;
    ok = ok && FullWrite(out, &eofMark, 1, at) && FullWrite(out, header.data(), header.size(), 0);
    ok = ok && ::fsync(out) == 0;
  }
  int err = errno;
  ::close(out);
  if (!ok) {
    ::unlink(newDbf.c_str());
    IoError(FileErrorFromErrno(err), "Cannot write " + newDbf.string() + ": " + std::strerror(err));
  }
  // Switch to the new table, then make its tags.
  std::vector<IndexTag> tags;
  std::vector<Impl::TagExpr> exprs;
  if (t.index) {
    tags = t.index->Tags();
    exprs = std::move(t.tagExprs);
    // A stop between the renames below leaves an index marked as being
    // changed; the next open then makes it again from the packed rows.
    t.index->BeginUpdate();
    t.index.reset();
  }
  if (::rename(newDbf.c_str(), t.dbfPath.c_str()) != 0) {
    err = errno;
    ::unlink(newDbf.c_str());
    IoError(FileErrorFromErrno(err), "Cannot replace " + t.dbfPath.string() + ": " + std::strerror(err));
  }
  int nfd = ::open(t.dbfPath.c_str(), O_RDWR | O_CLOEXEC);
  if (nfd < 0) IoError(FileErrorFromErrno(errno), "Cannot open " + t.dbfPath.string());
  ::close(t.fd);
  t.fd = nfd;
  LockByte(t.fd, kOpenLockByte, F_WRLCK, false);
  t.blocks.clear();
  t.ReadHeader(false);
  if (!tags.empty()) {
    std::vector<Impl::TagExpr*> ptrs;
    for (auto& e : exprs) ptrs.push_back(&e);
    auto outer = t.progress;
    t.progress = [&](int p) { if (outer) outer(50 + p / 2); };
    try {
      t.WriteNewIndex(tags, ptrs, t.cdxPath);
    } catch (...) {
      t.progress = outer;
      throw;
    }
    t.progress = outer;
    int keepOrder = t.order;
    t.AttachIndex();
    t.order = keepOrder <= static_cast<int>(t.tagExprs.size()) ? keepOrder : 0;
  }
  t.InvalidateView();
  t.Guarded([&] { t.MoveFirst(); });
  t.Progress(100);
  t.Notify(XbaseChange::xcReopened);
}

std::string XbaseTable::RecordBytes(int recordNumber) {
  Impl& t = *impl_;
  t.RequireOpen();
  Impl::OpLock lock(t, false);
  if (recordNumber < 1 || static_cast<uint32_t>(recordNumber) > t.recordCount)
    throw ERecordNotFound(ecRecordNotFound, t.Name() + ": there is no record " + std::to_string(recordNumber));
  const uint8_t* r = t.Record(static_cast<uint32_t>(recordNumber));
  return std::string(reinterpret_cast<const char*>(r), t.recordLength);
}

std::vector<int> XbaseTable::TagRecords(int number) {
  Impl& t = *impl_;
  t.RequireOpen();
  if (number < 1 || number > TagCount()) BadArgument(t.Name() + ": there is no tag number " + std::to_string(number));
  Impl::OpLock lock(t, false);
  std::vector<uint32_t> all = t.Guarded([&] { return t.index->AllRecords(static_cast<size_t>(number - 1)); });
  if (t.index->Tags()[number - 1].descending) std::reverse(all.begin(), all.end());
  return std::vector<int>(all.begin(), all.end());
}

std::vector<std::string> XbaseTable::VerifyIndex() {
  Impl& t = *impl_;
  t.RequireOpen();
  std::vector<std::string> faults;
  if (!t.index) return faults;
  Impl::OpLock lock(t, false);
  const auto tags = t.index->Tags();
  for (size_t i = 0; i < tags.size(); ++i) {
    std::vector<IndexEntry> stored;
    std::vector<std::string> f;
    try {
      f = t.index->CheckTree(i, &stored);
    } catch (const IndexDamaged& e) {
      f.push_back(e.what());
    }
    faults.insert(faults.end(), f.begin(), f.end());
    if (!f.empty()) continue;
    if (tags[i].unique()) {
      // A unique tag keeps one row per key; after changes that row need
      // not be the lowest, so each entry is checked against its own row.
      for (size_t k = 0; k < stored.size(); ++k) {
        uint32_t r = stored[k].record;
        const auto& te = t.tagExprs[i];
        if (r < 1 || r > t.recordCount || !te.forCond.IsTrue(t.Record(r), r) ||
            te.key.Key(t.Record(r), r, tags[i].keyLength) != stored[k].key ||
            (k > 0 && stored[k - 1].key == stored[k].key)) {
          faults.push_back("tag " + tags[i].name + ": the entry for record " + std::to_string(r) +
                           " does not match the row");
          break;
        }
      }
      continue;
    }
    auto want = t.BuildEntries(t.tagExprs[i], tags[i].keyLength, false, 0, 0);
    if (want.size() != stored.size()) {
      faults.push_back("tag " + tags[i].name + ": holds " + std::to_string(stored.size()) + " keys, the rows give " +
                       std::to_string(want.size()));
      continue;
    }
    for (size_t k = 0; k < want.size(); ++k) {
      if (want[k].key != stored[k].key || want[k].record != stored[k].record) {
        faults.push_back("tag " + tags[i].name + ": key " + std::to_string(k + 1) + " (record " +
                         std::to_string(stored[k].record) + ") differs from the row's key (record " +
                         std::to_string(want[k].record) + ")");
        break;
      }
    }
  }
  return faults;
}

void XbaseTable::SetProgressHandler(std::function<void(int percent)> handler) {
  impl_->progress = std::move(handler);
}

void XbaseTable::SetChangeHandler(std::function<void(XbaseChange)> handler) {
  impl_->changed = std::move(handler);
}

void XbaseTable::DisableNotifications() { ++impl_->notifyDisabled; }

void XbaseTable::EnableNotifications() {
  Impl& t = *impl_;
  if (t.notifyDisabled > 0 && --t.notifyDisabled == 0 && t.notifyPending) {
    t.notifyPending = false;
    if (t.changed) t.changed(XbaseChange::xcReopened);
  }
}

}  // namespace tv
