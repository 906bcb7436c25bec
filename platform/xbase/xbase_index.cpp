#include "platform/xbase/xbase_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace tv::xbase {

namespace {

// Marker in a reserved part of the file header while a change is being
// written; other programs ignore these bytes.
constexpr uint32_t kUpdateMarkOffset = 24;
constexpr uint8_t kUpdateMark[4] = {'T', 'V', 'U', 'P'};

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Get32BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put32BE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

int Compare(const std::string& ka, uint32_t ra, const std::string& kb, uint32_t rb) {
  int c = ka.compare(kb);
  if (c != 0) return c < 0 ? -1 : 1;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

struct LeafLayout {
  int rb, db, tb, bytes;
};

LeafLayout LayoutFor(int keyLength, uint32_t maxRecord) {
  LeafLayout l;
  l.db = l.tb = BitsFor(static_cast<uint64_t>(keyLength));
  int need = BitsFor(maxRecord);
  l.bytes = 3;
  while (8 * l.bytes - l.db - l.tb < need) ++l.bytes;
  l.rb = 8 * l.bytes - l.db - l.tb;
  return l;
}

int TrailCount(const std::string& key, char pad) {
  int n = 0;
  for (auto it = key.rbegin(); it != key.rend() && *it == pad; ++it) ++n;
  return n;
}

// Bytes a leaf with these entries needs, header included.
size_t LeafSize(const std::vector<IndexEntry>& e, int keyLength, char pad) {
  uint32_t maxRec = 0;
  for (const auto& x : e) maxRec = std::max(maxRec, x.record);
  LeafLayout l = LayoutFor(keyLength, maxRec);
  size_t used = 24 + e.size() * l.bytes;
  const std::string* prev = nullptr;
  for (const auto& x : e) {
    int trail = TrailCount(x.key, pad);
    int dup = 0;
    if (prev) {
      while (dup < keyLength && (*prev)[dup] == x.key[dup]) ++dup;
      dup = std::min(dup, keyLength - trail);
    }
    used += keyLength - dup - trail;
    prev = &x.key;
  }
  return used;
}

size_t InteriorCapacity(int keyLength) { return 500 / (keyLength + 8); }

bool Fits(const IndexNode& n, char pad) {
  if (n.IsLeaf()) return LeafSize(n.entries, n.keyLength, pad) <= kPageSize;
  return n.entries.size() <= InteriorCapacity(n.keyLength);
}

bool Underfull(const IndexNode& n, char pad) {
  if (n.IsLeaf()) return LeafSize(n.entries, n.keyLength, pad) < kPageSize / 2;
  return n.entries.size() < InteriorCapacity(n.keyLength) / 2;
}

void EncodeNode(const IndexNode& n, char pad, uint8_t* page) {
  std::memset(page, 0, kPageSize);
  Put16(page, n.attributes);
  Put16(page + 2, static_cast<uint32_t>(n.entries.size()));
  Put32(page + 4, n.left);
  Put32(page + 8, n.right);
  const int L = n.keyLength;
  if (!n.IsLeaf()) {
    uint8_t* p = page + 12;
    for (const auto& e : n.entries) {
      std::memcpy(p, e.key.data(), L);
      Put32BE(p + L, e.record);
      Put32BE(p + L + 4, e.child);
      p += L + 8;
    }
    return;
  }
  uint32_t maxRec = 0;
  for (const auto& x : n.entries) maxRec = std::max(maxRec, x.record);
  LeafLayout l = LayoutFor(L, maxRec);
  Put32(page + 14, l.rb >= 32 ? 0xFFFFFFFFu : ((1u << l.rb) - 1));
  page[18] = static_cast<uint8_t>((1u << l.db) - 1);
  page[19] = static_cast<uint8_t>((1u << l.tb) - 1);
  page[20] = static_cast<uint8_t>(l.rb);
  page[21] = static_cast<uint8_t>(l.db);
  page[22] = static_cast<uint8_t>(l.tb);
  page[23] = static_cast<uint8_t>(l.bytes);
  size_t pos = kPageSize;
  const std::string* prev = nullptr;
  uint8_t* ent = page + 24;
  for (const auto& x : n.entries) {
    int trail = TrailCount(x.key, pad);
    int dup = 0;
    if (prev) {
      while (dup < L && (*prev)[dup] == x.key[dup]) ++dup;
      dup = std::min(dup, L - trail);
    }
    int fresh = L - dup - trail;
    pos -= fresh;
    std::memcpy(page + pos, x.key.data() + dup, fresh);
    uint64_t v = static_cast<uint64_t>(x.record) | (static_cast<uint64_t>(dup) << l.rb) |
                 (static_cast<uint64_t>(trail) << (l.rb + l.db));
    for (int i = 0; i < l.bytes; ++i) ent[i] = static_cast<uint8_t>(v >> (8 * i));
    ent += l.bytes;
    prev = &x.key;
  }
  Put16(page + 12, static_cast<uint32_t>(pos - (24 + n.entries.size() * l.bytes)));
}

}  // namespace

int BitsFor(uint64_t value) {
  int b = 0;
  while (b < 64 && (value >> b) != 0) ++b;
  return std::max(b, 1);
}

IndexFile::~IndexFile() { Close(); }

void IndexFile::Damaged(const std::string& what) const {
  throw IndexDamaged(path_.filename().string() + ": " + what);
}

void IndexFile::CreateEmpty(const std::filesystem::path& path) {
  uint8_t buf[3 * kPageSize] = {};
  // File header: the directory's tag header.
  Put32(buf, 1024);
  Put16(buf + 12, 10);
  buf[14] = 0xE0;
  buf[15] = 1;
  Put16(buf + 16, 1024);
  Put16(buf + 18, 512);
  Put16(buf + 504, 1);
  Put16(buf + 506, 1);
  Put16(buf + 508, 0);
  Put16(buf + 510, 1);
  IndexNode root;
  root.attributes = 3;
  root.keyLength = 10;
  EncodeNode(root, ' ', buf + 1024);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw IndexDamaged(path.filename().string() + ": cannot be created: " + std::strerror(errno));
  ssize_t w = ::pwrite(fd, buf, sizeof buf, 0);
  int err = errno;
  ::close(fd);
  if (w != static_cast<ssize_t>(sizeof buf))
    throw IndexDamaged(path.filename().string() + ": cannot be written: " + std::strerror(err));
}

void IndexFile::Open(const std::filesystem::path& path, bool writable) {
  Close();
  path_ = path;
  writable_ = writable;
  fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd_ < 0) Damaged(std::string("cannot be opened: ") + std::strerror(errno));
  try {
    ReadHeaderAndTags();
  } catch (...) {
    Close();
    throw;
  }
}

void IndexFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  tags_.clear();
  nodes_.clear();
  updateDepth_ = 0;
}

void IndexFile::DropCaches() { nodes_.clear(); }

void IndexFile::ReadRaw(uint32_t offset, uint8_t* page) {
  if (offset % kPageSize != 0 || offset == 0 || static_cast<uint64_t>(offset) + kPageSize > fileSize_)
    Damaged("an index page points outside the file (offset " + std::to_string(offset) + ")");
  ssize_t r = ::pread(fd_, page, kPageSize, offset);
  if (r != static_cast<ssize_t>(kPageSize)) Damaged("a page cannot be read");
}

void IndexFile::WriteRaw(uint32_t offset, const uint8_t* data, size_t size) {
  if (!writable_) Damaged("is open for reading only");
  size_t done = 0;
  while (done < size) {
    ssize_t w = ::pwrite(fd_, data + done, size - done, offset + done);
    if (w <= 0) {
      if (w < 0 && errno == EINTR) continue;
      Damaged(std::string("cannot be written: ") + std::strerror(errno));
    }
    done += static_cast<size_t>(w);
  }
  fileSize_ = std::max<uint64_t>(fileSize_, offset + size);
}

void IndexFile::ReadHeaderAndTags() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) Damaged("cannot be examined");
  fileSize_ = static_cast<uint64_t>(st.st_size) / kPageSize * kPageSize;
  if (fileSize_ < 3 * kPageSize) Damaged("is too short to be an index file");
  uint8_t h[kPageSize];
  if (::pread(fd_, h, kPageSize, 0) != static_cast<ssize_t>(kPageSize)) Damaged("header cannot be read");
  directoryRoot_ = Get32(h);
  freeHead_ = Get32(h + 4);
  if (freeHead_ == kNoPage) freeHead_ = 0;
  counter_ = Get32BE(h + 8);
  interrupted_ = std::memcmp(h + kUpdateMarkOffset, kUpdateMark, 4) == 0;
  if (Get16(h + 12) != 10) Damaged("the tag directory has a bad key length");
  if (directoryRoot_ < 1024) Damaged("the tag directory's root points into the header");
  tags_.clear();
  nodes_.clear();
  // Walk the directory leaves left to right.
  uint32_t off = directoryRoot_;
  size_t guard = fileSize_ / kPageSize + 1;
  for (;;) {
    const IndexNode& n = Node(off, 10, ' ');
    if (n.IsLeaf()) break;
    if (n.entries.empty()) Damaged("an interior directory page is empty");
    off = n.entries.front().child;
    if (--guard == 0) Damaged("the tag directory loops");
  }
  std::set<uint32_t> seen;
  while (off != kNoPage) {
    if (!seen.insert(off).second) Damaged("the tag directory loops");
    IndexNode n = Node(off, 10, ' ');
    for (const auto& e : n.entries) {
      std::string name = e.key;
      while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
      if (name.empty()) Damaged("a tag has no name");
      tags_.push_back(ReadTagHeader(e.record, name));
    }
    off = n.right;
  }
  std::sort(tags_.begin(), tags_.end(),
            [](const IndexTag& a, const IndexTag& b) { return a.headerOffset < b.headerOffset; });
  for (size_t i = 1; i < tags_.size(); ++i)
    if (tags_[i].headerOffset == tags_[i - 1].headerOffset) Damaged("two tags share one header");
}

IndexTag IndexFile::ReadTagHeader(uint32_t offset, const std::string& name) {
  if (offset % kPageSize != 0 || offset < 1024 || static_cast<uint64_t>(offset) + 1024 > fileSize_)
    Damaged("tag " + name + " has its header outside the file");
  uint8_t h[1024];
  if (::pread(fd_, h, 1024, offset) != 1024) Damaged("tag " + name + ": header cannot be read");
  IndexTag t;
  t.name = name;
  t.headerOffset = offset;
  t.root = Get32(h);
  t.keyLength = Get16(h + 12);
  t.options = h[14];
  t.descending = Get16(h + 502) != 0;
  if (t.keyLength < 1 || t.keyLength > 240) Damaged("tag " + name + " has a bad key length");
  auto str = [&](uint32_t start, uint32_t len, const char* what) {
    if (len < 1 || start + len > 512 || h[512 + start + len - 1] != 0)
      Damaged("tag " + name + " has a bad " + what + " expression");
    return std::string(reinterpret_cast<const char*>(h + 512 + start));
  };
  t.keyExpression = str(Get16(h + 508), Get16(h + 510), "key");
  t.forExpression = str(Get16(h + 504), Get16(h + 506), "FOR");
  if (t.keyExpression.empty()) Damaged("tag " + name + " has no key expression");
  if (t.root % kPageSize != 0 || t.root < 1024 || static_cast<uint64_t>(t.root) + kPageSize > fileSize_)
    Damaged("tag " + name + ": its root page points outside the file");
  return t;
}

const IndexNode& IndexFile::Node(uint32_t offset, int keyLength, char pad) {
  auto it = nodes_.find(offset);
  if (it != nodes_.end() && it->second.keyLength == keyLength) return it->second;
  uint8_t p[kPageSize];
  ReadRaw(offset, p);
  IndexNode n;
  n.offset = offset;
  n.keyLength = keyLength;
  n.attributes = Get16(p);
  size_t count = Get16(p + 2);
  n.left = Get32(p + 4);
  n.right = Get32(p + 8);
  if (n.attributes > 3) Damaged("page " + std::to_string(offset) + " has bad attributes");
  auto checkLink = [&](uint32_t link) {
    if (link != kNoPage && (link % kPageSize != 0 || link < 1024 || link + kPageSize > fileSize_))
      Damaged("page " + std::to_string(offset) + " links outside the file");
  };
  checkLink(n.left);
  checkLink(n.right);
  const int L = keyLength;
  if (!n.IsLeaf()) {
    if (12 + count * (L + 8) > kPageSize) Damaged("page " + std::to_string(offset) + " holds too many keys");
    const uint8_t* q = p + 12;
    for (size_t i = 0; i < count; ++i) {
      IndexEntry e;
      e.key.assign(reinterpret_cast<const char*>(q), L);
      e.record = Get32BE(q + L);
      e.child = Get32BE(q + L + 4);
      if (e.child % kPageSize != 0 || e.child < 1024 || e.child + kPageSize > fileSize_)
        Damaged("page " + std::to_string(offset) + " points outside the file");
      n.entries.push_back(std::move(e));
      q += L + 8;
    }
  } else {
    int rb = p[20], db = p[21], tb = p[22], bytes = p[23];
    if (count > 0 && (bytes < 1 || bytes > 8 || rb + db + tb > 64 || rb < 1 || rb > 32 ||
                      24 + count * bytes > kPageSize))
      Damaged("leaf page " + std::to_string(offset) + " has a bad layout");
    uint64_t recMask = rb >= 64 ? ~uint64_t{0} : ((uint64_t{1} << rb) - 1);
    uint64_t dupMask = (uint64_t{1} << db) - 1, trailMask = (uint64_t{1} << tb) - 1;
    size_t pos = kPageSize, floor = 24 + count * bytes;
    std::string prev;
    for (size_t i = 0; i < count; ++i) {
      uint64_t v = 0;
      for (int b = 0; b < bytes; ++b) v |= static_cast<uint64_t>(p[24 + i * bytes + b]) << (8 * b);
      IndexEntry e;
      e.record = static_cast<uint32_t>(v & recMask);
      int dup = static_cast<int>((v >> rb) & dupMask);
      int trail = static_cast<int>((v >> (rb + db)) & trailMask);
      if (dup + trail > L || (i == 0 && dup > 0))
        Damaged("leaf page " + std::to_string(offset) + " has a bad key entry");
      size_t fresh = static_cast<size_t>(L - dup - trail);
      if (pos < floor + fresh) Damaged("leaf page " + std::to_string(offset) + " has overlapping keys");
      pos -= fresh;
      e.key.reserve(L);
      e.key.assign(prev, 0, dup);
      e.key.append(reinterpret_cast<const char*>(p + pos), fresh);
      e.key.append(trail, pad);
      prev = e.key;
      n.entries.push_back(std::move(e));
    }
  }
  auto [ins, ok] = nodes_.insert_or_assign(offset, std::move(n));
  (void)ok;
  return ins->second;
}

void IndexFile::WriteNode(IndexNode& node, char pad) {
  uint8_t p[kPageSize];
  EncodeNode(node, pad, p);
  WriteRaw(node.offset, p, kPageSize);
  nodes_[node.offset] = node;
}

uint32_t IndexFile::AllocatePage() {
  uint32_t off;
  if (freeHead_ != 0) {
    off = freeHead_;
    uint8_t p[kPageSize];
    ReadRaw(off, p);
    freeHead_ = Get32(p);
    if (freeHead_ == kNoPage) freeHead_ = 0;
    uint8_t f[4];
    Put32(f, freeHead_);
    WriteRaw(4, f, 4);
  } else {
    off = static_cast<uint32_t>(fileSize_);
    uint8_t zero[kPageSize] = {};
    WriteRaw(off, zero, kPageSize);
  }
  nodes_.erase(off);
  return off;
}

void IndexFile::FreePage(uint32_t offset) {
  uint8_t p[kPageSize] = {};
  Put32(p, freeHead_);
  WriteRaw(offset, p, kPageSize);
  freeHead_ = offset;
  uint8_t f[4];
  Put32(f, freeHead_);
  WriteRaw(4, f, 4);
  nodes_.erase(offset);
}

void IndexFile::BeginUpdate() {
  if (updateDepth_++ == 0) {
    WriteRaw(kUpdateMarkOffset, kUpdateMark, 4);
    if (shared_) BumpCounter();
  }
}

void IndexFile::EndUpdate() {
  if (updateDepth_ > 0 && --updateDepth_ == 0) {
    uint8_t zero[4] = {};
    WriteRaw(kUpdateMarkOffset, zero, 4);
  }
}

void IndexFile::BumpCounter() {
  ++counter_;
  uint8_t c[4];
  Put32BE(c, counter_);
  WriteRaw(8, c, 4);
}

bool IndexFile::RefreshIfChanged() {
  uint8_t h[16];
  struct stat st;
  if (::pread(fd_, h, 16, 0) != 16 || ::fstat(fd_, &st) != 0) Damaged("header cannot be read");
  uint64_t size = static_cast<uint64_t>(st.st_size) / kPageSize * kPageSize;
  if (Get32BE(h + 8) == counter_ && size == fileSize_ && Get32(h) == directoryRoot_) return false;
  ReadHeaderAndTags();
  return true;
}

// ---- Tree maintenance ----------------------------------------------------------

std::vector<std::pair<IndexNode, int>> IndexFile::PathTo(uint32_t root, int keyLength, char pad,
                                                         const std::string& key, uint32_t record) {
  std::vector<std::pair<IndexNode, int>> path;
  uint32_t off = root;
  size_t guard = fileSize_ / kPageSize + 1;
  for (;;) {
    IndexNode n = Node(off, keyLength, pad);
    if (n.IsLeaf()) {
      auto it = std::lower_bound(n.entries.begin(), n.entries.end(), 0,
                                 [&](const IndexEntry& e, int) {
                                   return Compare(e.key, e.record, key, record) < 0;
                                 });
      int idx = static_cast<int>(it - n.entries.begin());
      path.emplace_back(std::move(n), idx);
      return path;
    }
    if (n.entries.empty()) Damaged("interior page " + std::to_string(off) + " is empty");
    size_t i = 0;
    while (i + 1 < n.entries.size() && Compare(n.entries[i].key, n.entries[i].record, key, record) < 0) ++i;
    off = n.entries[i].child;
    path.emplace_back(std::move(n), static_cast<int>(i));
    if (--guard == 0 || path.size() > 64) Damaged("the tree loops");
  }
}

void IndexFile::FixParentKeys(std::vector<std::pair<IndexNode, int>>& path, size_t level, char pad) {
  for (size_t l = level; l > 0; --l) {
    IndexNode& node = path[l].first;
    IndexNode& parent = path[l - 1].first;
    size_t pidx = static_cast<size_t>(path[l - 1].second);
    if (node.entries.empty() || pidx >= parent.entries.size()) return;
    const IndexEntry& last = node.entries.back();
    IndexEntry& pe = parent.entries[pidx];
    if (pe.key == last.key && pe.record == last.record && pe.child == node.offset) return;
    pe.key = last.key;
    pe.record = last.record;
    pe.child = node.offset;
    WriteNode(parent, pad);
  }
}

void IndexFile::StoreAfterInsert(std::vector<std::pair<IndexNode, int>>& path, size_t level, char pad) {
  IndexNode& node = path[level].first;
  if (Fits(node, pad)) {
    WriteNode(node, pad);
    FixParentKeys(path, level, pad);
    return;
  }
  // Split point: the middle, moved so that both halves fit.
  size_t n = node.entries.size();
  size_t mid = n / 2;
  auto fitsSplit = [&](size_t m) {
    IndexNode a, b;
    a.attributes = b.attributes = node.IsLeaf() ? 2 : 0;
    a.keyLength = b.keyLength = node.keyLength;
    a.entries.assign(node.entries.begin(), node.entries.begin() + m);
    b.entries.assign(node.entries.begin() + m, node.entries.end());
    return Fits(a, pad) && Fits(b, pad);
  };
  if (!fitsSplit(mid)) {
    for (size_t d = 1; d < n; ++d) {
      if (mid + d < n && fitsSplit(mid + d)) { mid += d; break; }
      if (mid > d && fitsSplit(mid - d)) { mid -= d; break; }
    }
  }
  std::vector<IndexEntry> leftPart(node.entries.begin(), node.entries.begin() + mid);
  std::vector<IndexEntry> rightPart(node.entries.begin() + mid, node.entries.end());
  uint16_t kind = node.IsLeaf() ? 2 : 0;
  if (node.IsRoot()) {
    // The root keeps its offset: its halves move to two new pages.
    IndexNode a, b;
    a.offset = AllocatePage();
    b.offset = AllocatePage();
    a.attributes = b.attributes = kind;
    a.keyLength = b.keyLength = node.keyLength;
    a.entries = std::move(leftPart);
    b.entries = std::move(rightPart);
    a.left = kNoPage;
    a.right = b.offset;
    b.left = a.offset;
    b.right = kNoPage;
    WriteNode(a, pad);
    WriteNode(b, pad);
    node.attributes = 1;
    node.left = node.right = kNoPage;
    node.entries.clear();
    node.entries.push_back({a.entries.back().key, a.entries.back().record, a.offset});
    node.entries.push_back({b.entries.back().key, b.entries.back().record, b.offset});
    WriteNode(node, pad);
    return;
  }
  IndexNode r;
  r.offset = AllocatePage();
  r.attributes = kind;
  r.keyLength = node.keyLength;
  r.entries = std::move(rightPart);
  r.left = node.offset;
  r.right = node.right;
  if (node.right != kNoPage) {
    IndexNode nb = Node(node.right, node.keyLength, pad);
    nb.left = r.offset;
    WriteNode(nb, pad);
  }
  node.right = r.offset;
  node.entries = std::move(leftPart);
  WriteNode(r, pad);
  WriteNode(node, pad);
  IndexNode& parent = path[level - 1].first;
  size_t pidx = static_cast<size_t>(path[level - 1].second);
  parent.entries[pidx] = {node.entries.back().key, node.entries.back().record, node.offset};
  parent.entries.insert(parent.entries.begin() + pidx + 1,
                        {r.entries.back().key, r.entries.back().record, r.offset});
  StoreAfterInsert(path, level - 1, pad);
}

void IndexFile::StoreAfterRemove(std::vector<std::pair<IndexNode, int>>& path, size_t level, char pad) {
  IndexNode& node = path[level].first;
  const int L = node.keyLength;
  if (node.entries.empty() && !node.IsRoot()) {
    if (node.left != kNoPage) {
      IndexNode l = Node(node.left, L, pad);
      l.right = node.right;
      WriteNode(l, pad);
    }
    if (node.right != kNoPage) {
      IndexNode r = Node(node.right, L, pad);
      r.left = node.left;
      WriteNode(r, pad);
    }
    FreePage(node.offset);
    IndexNode& parent = path[level - 1].first;
    parent.entries.erase(parent.entries.begin() + path[level - 1].second);
    StoreAfterRemove(path, level - 1, pad);
    return;
  }
  if (node.IsRoot()) {
    if (node.entries.empty()) node.attributes = 3;
    WriteNode(node, pad);
    // A root with one child takes over the child's content.
    while (!node.IsLeaf() && node.entries.size() == 1) {
      IndexNode child = Node(node.entries[0].child, L, pad);
      node.entries = child.entries;
      node.attributes = static_cast<uint16_t>(child.attributes | 1);
      FreePage(child.offset);
      WriteNode(node, pad);
    }
    return;
  }
  IndexNode& parent = path[level - 1].first;
  size_t pidx = static_cast<size_t>(path[level - 1].second);
  if (Underfull(node, pad)) {
    // Merge with a neighbour under the same parent when both fit one page.
    auto merge = [&](IndexNode& keep, IndexNode& gone, size_t keepIdx) {
      keep.entries.insert(keep.entries.end(), gone.entries.begin(), gone.entries.end());
      keep.right = gone.right;
      if (gone.right != kNoPage) {
        IndexNode rr = Node(gone.right, L, pad);
        rr.left = keep.offset;
        WriteNode(rr, pad);
      }
      FreePage(gone.offset);
      WriteNode(keep, pad);
      parent.entries[keepIdx] = {keep.entries.back().key, keep.entries.back().record, keep.offset};
      parent.entries.erase(parent.entries.begin() + keepIdx + 1);
      StoreAfterRemove(path, level - 1, pad);
    };
    if (pidx + 1 < parent.entries.size()) {
      IndexNode right = Node(parent.entries[pidx + 1].child, L, pad);
      IndexNode test = node;
      test.entries.insert(test.entries.end(), right.entries.begin(), right.entries.end());
      if (Fits(test, pad)) {
        merge(node, right, pidx);
        return;
      }
    }
    if (pidx > 0) {
      IndexNode left = Node(parent.entries[pidx - 1].child, L, pad);
      IndexNode test = left;
      test.entries.insert(test.entries.end(), node.entries.begin(), node.entries.end());
      if (Fits(test, pad)) {
        merge(left, node, pidx - 1);
        return;
      }
    }
  }
  WriteNode(node, pad);
  FixParentKeys(path, level, pad);
}

void IndexFile::InsertInto(uint32_t root, int keyLength, char pad, const std::string& key,
                           uint32_t record, uint32_t child) {
  auto path = PathTo(root, keyLength, pad, key, record);
  IndexNode& leaf = path.back().first;
  leaf.entries.insert(leaf.entries.begin() + path.back().second, {key, record, child});
  StoreAfterInsert(path, path.size() - 1, pad);
}

bool IndexFile::RemoveFrom(uint32_t root, int keyLength, char pad, const std::string& key,
                           uint32_t record) {
  auto path = PathTo(root, keyLength, pad, key, record);
  IndexNode& leaf = path.back().first;
  size_t idx = static_cast<size_t>(path.back().second);
  if (idx >= leaf.entries.size() || leaf.entries[idx].key != key || leaf.entries[idx].record != record)
    return false;
  leaf.entries.erase(leaf.entries.begin() + idx);
  StoreAfterRemove(path, path.size() - 1, pad);
  return true;
}

void IndexFile::Insert(size_t tag, const std::string& key, uint32_t record) {
  const IndexTag& t = tags_[tag];
  InsertInto(t.root, t.keyLength, t.pad, key, record, 0);
}

bool IndexFile::Remove(size_t tag, const std::string& key, uint32_t record) {
  const IndexTag& t = tags_[tag];
  return RemoveFrom(t.root, t.keyLength, t.pad, key, record);
}

bool IndexFile::ContainsKey(size_t tag, const std::string& key) {
  IndexCursor c = Seek(tag, key, 0);
  return c.Valid() && At(tag, c).key == key;
}

void IndexFile::AddTag(IndexTag tag, const std::vector<IndexEntry>& sorted, uint32_t recordCount) {
  const int L = tag.keyLength;
  const char pad = tag.pad;
  uint32_t maxRec = recordCount;
  for (const auto& e : sorted) maxRec = std::max(maxRec, e.record);
  LeafLayout lay = LayoutFor(L, maxRec);
  // Group the entries into full leaves.
  std::vector<std::vector<IndexEntry>> pages;
  {
    std::vector<IndexEntry> cur;
    size_t used = 24;
    const std::string* prev = nullptr;
    for (const auto& e : sorted) {
      int trail = TrailCount(e.key, pad);
      int dup = 0;
      if (prev) {
        while (dup < L && (*prev)[dup] == e.key[dup]) ++dup;
        dup = std::min(dup, L - trail);
      }
      size_t add = lay.bytes + (L - dup - trail);
      if (!cur.empty() && used + add > kPageSize) {
        pages.push_back(std::move(cur));
        cur.clear();
        used = 24;
        add = lay.bytes + (L - trail);
      }
      cur.push_back(e);
      used += add;
      prev = &cur.back().key;
    }
    pages.push_back(std::move(cur));
  }
  // Every page of the new tree and its header go to the end of the file in
  // one write: leaves first, then each interior level, then the header.
  const uint32_t base = static_cast<uint32_t>(fileSize_);
  std::vector<uint8_t> out;
  auto nextOffset = [&]() { return base + static_cast<uint32_t>(out.size()); };
  bool isLeafLevel = true;
  for (;;) {
    std::vector<IndexEntry> up;
    uint32_t first = nextOffset();
    size_t count = pages.size();
    out.resize(out.size() + count * kPageSize);
    for (size_t i = 0; i < count; ++i) {
      IndexNode n;
      n.offset = first + static_cast<uint32_t>(i * kPageSize);
      n.keyLength = L;
      n.attributes = static_cast<uint16_t>((isLeafLevel ? 2 : 0) | (count == 1 ? 1 : 0));
      n.left = i > 0 ? n.offset - kPageSize : kNoPage;
      n.right = i + 1 < count ? n.offset + kPageSize : kNoPage;
      n.entries = std::move(pages[i]);
      if (!n.entries.empty())
        up.push_back({n.entries.back().key, n.entries.back().record, n.offset});
      EncodeNode(n, pad, out.data() + (n.offset - base));
    }
    if (count == 1) {
      tag.root = first;
      break;
    }
    size_t cap = InteriorCapacity(L);
    pages.clear();
    for (size_t i = 0; i < up.size(); i += cap)
      pages.emplace_back(up.begin() + i, up.begin() + std::min(up.size(), i + cap));
    isLeafLevel = false;
  }
  // Tag header: two pages after the tree.
  tag.headerOffset = nextOffset();
  out.resize(out.size() + 1024);
  uint8_t* h = out.data() + (tag.headerOffset - base);
  Put32(h, tag.root);
  Put16(h + 12, static_cast<uint32_t>(L));
  h[14] = tag.options;
  h[15] = 1;
  Put16(h + 16, 1024);
  Put16(h + 18, 512);
  Put16(h + 502, tag.descending ? 1 : 0);
  size_t klen = tag.keyExpression.size() + 1, flen = tag.forExpression.size() + 1;
  if (klen + flen > 512) Damaged("the expressions of tag " + tag.name + " are too long");
  std::memcpy(h + 512, tag.keyExpression.c_str(), klen);
  std::memcpy(h + 512 + klen, tag.forExpression.c_str(), flen);
  Put16(h + 504, static_cast<uint32_t>(klen));
  Put16(h + 506, static_cast<uint32_t>(flen));
  Put16(h + 508, 0);
  Put16(h + 510, static_cast<uint32_t>(klen));
  WriteRaw(base, out.data(), out.size());
  std::string dirKey = tag.name;
  dirKey.resize(10, ' ');
  InsertInto(directoryRoot_, 10, ' ', dirKey, tag.headerOffset, 0);
  tags_.push_back(std::move(tag));
}

// ---- Reading ---------------------------------------------------------------------

IndexCursor IndexFile::First(size_t tag) {
  const IndexTag& t = tags_[tag];
  uint32_t off = t.root;
  for (size_t guard = 0;; ++guard) {
    const IndexNode& n = Node(off, t.keyLength, t.pad);
    if (n.IsLeaf()) {
      if (!n.entries.empty()) return {off, 0};
      return n.right == kNoPage ? IndexCursor{} : Next(tag, {off, -1});
    }
    if (n.entries.empty()) Damaged("interior page " + std::to_string(off) + " is empty");
    off = n.entries.front().child;
    if (guard > 64) Damaged("the tree of tag " + t.name + " loops");
  }
}

IndexCursor IndexFile::Last(size_t tag) {
  const IndexTag& t = tags_[tag];
  uint32_t off = t.root;
  for (size_t guard = 0;; ++guard) {
    const IndexNode& n = Node(off, t.keyLength, t.pad);
    if (n.IsLeaf()) {
      if (!n.entries.empty()) return {off, static_cast<int>(n.entries.size()) - 1};
      return n.left == kNoPage ? IndexCursor{} : Prior(tag, {off, 0});
    }
    if (n.entries.empty()) Damaged("interior page " + std::to_string(off) + " is empty");
    off = n.entries.back().child;
    if (guard > 64) Damaged("the tree of tag " + t.name + " loops");
  }
}

IndexCursor IndexFile::Next(size_t tag, IndexCursor c) {
  const IndexTag& t = tags_[tag];
  const IndexNode* n = &Node(c.leaf, t.keyLength, t.pad);
  if (c.index + 1 < static_cast<int>(n->entries.size())) return {c.leaf, c.index + 1};
  size_t guard = fileSize_ / kPageSize + 1;
  while (n->right != kNoPage) {
    uint32_t off = n->right;
    n = &Node(off, t.keyLength, t.pad);
    if (!n->IsLeaf()) Damaged("a leaf of tag " + t.name + " links to an interior page");
    if (!n->entries.empty()) return {off, 0};
    if (--guard == 0) Damaged("the leaves of tag " + t.name + " loop");
  }
  return {};
}

IndexCursor IndexFile::Prior(size_t tag, IndexCursor c) {
  const IndexTag& t = tags_[tag];
  const IndexNode* n = &Node(c.leaf, t.keyLength, t.pad);
  if (c.index > 0) return {c.leaf, c.index - 1};
  size_t guard = fileSize_ / kPageSize + 1;
  while (n->left != kNoPage) {
    uint32_t off = n->left;
    n = &Node(off, t.keyLength, t.pad);
    if (!n->IsLeaf()) Damaged("a leaf of tag " + t.name + " links to an interior page");
    if (!n->entries.empty()) return {off, static_cast<int>(n->entries.size()) - 1};
    if (--guard == 0) Damaged("the leaves of tag " + t.name + " loop");
  }
  return {};
}

IndexCursor IndexFile::Seek(size_t tag, const std::string& key, uint32_t record) {
  const IndexTag& t = tags_[tag];
  auto path = PathTo(t.root, t.keyLength, t.pad, key, record);
  const IndexNode& leaf = path.back().first;
  int idx = path.back().second;
  if (idx < static_cast<int>(leaf.entries.size())) return {leaf.offset, idx};
  if (leaf.entries.empty()) return leaf.right == kNoPage ? IndexCursor{} : Next(tag, {leaf.offset, -1});
  return Next(tag, {leaf.offset, idx - 1});
}

const IndexEntry& IndexFile::At(size_t tag, IndexCursor c) {
  const IndexTag& t = tags_[tag];
  const IndexNode& n = Node(c.leaf, t.keyLength, t.pad);
  if (c.index < 0 || c.index >= static_cast<int>(n.entries.size())) Damaged("a cursor left its page");
  return n.entries[c.index];
}

std::vector<uint32_t> IndexFile::AllRecords(size_t tag) {
  std::vector<uint32_t> out;
  const IndexTag& t = tags_[tag];
  IndexCursor c = First(tag);
  if (!c.Valid()) return out;
  uint32_t off = c.leaf;
  size_t guard = fileSize_ / kPageSize + 1;
  while (off != kNoPage) {
    const IndexNode& n = Node(off, t.keyLength, t.pad);
    if (!n.IsLeaf()) Damaged("a leaf of tag " + t.name + " links to an interior page");
    for (const auto& e : n.entries) out.push_back(e.record);
    off = n.right;
    if (--guard == 0) Damaged("the leaves of tag " + t.name + " loop");
  }
  return out;
}

std::vector<std::string> IndexFile::CheckTree(size_t tag, std::vector<IndexEntry>* entries) {
  std::vector<std::string> faults;
  const IndexTag& t = tags_[tag];
  std::set<uint32_t> seen;
  std::vector<std::vector<uint32_t>> levels;
  int leafDepth = -1;
  const std::string where = "tag " + t.name + ": ";
  // Depth-first walk; returns false when the subtree is unusable.
  std::function<bool(uint32_t, int, const IndexEntry*)> walk =
      [&](uint32_t off, int depth, const IndexEntry* parentEntry) -> bool {
    if (depth > 64) {
      faults.push_back(where + "the tree is too deep or loops");
      return false;
    }
    if (!seen.insert(off).second) {
      faults.push_back(where + "page " + std::to_string(off) + " is used twice");
      return false;
    }
    IndexNode n;
    try {
      n = Node(off, t.keyLength, t.pad);
    } catch (const IndexDamaged& e) {
      faults.push_back(where + e.what());
      return false;
    }
    if (static_cast<int>(levels.size()) <= depth) levels.resize(depth + 1);
    levels[depth].push_back(off);
    if (n.IsRoot() != (depth == 0))
      faults.push_back(where + "page " + std::to_string(off) + " has a wrong root bit");
    if (parentEntry && !n.entries.empty()) {
      const IndexEntry& last = n.entries.back();
      if (last.key != parentEntry->key || last.record != parentEntry->record)
        faults.push_back(where + "interior key over page " + std::to_string(off) +
                         " is not the last key of that page");
    }
    if (parentEntry && n.entries.empty())
      faults.push_back(where + "page " + std::to_string(off) + " is empty");
    if (n.IsLeaf()) {
      if (leafDepth < 0) leafDepth = depth;
      else if (leafDepth != depth) faults.push_back(where + "leaves at different depths");
      if (LeafSize(n.entries, n.keyLength, t.pad) > kPageSize)
        faults.push_back(where + "leaf " + std::to_string(off) + " overflows");
      if (entries) entries->insert(entries->end(), n.entries.begin(), n.entries.end());
      return true;
    }
    for (const auto& e : n.entries)
      if (!walk(e.child, depth + 1, &e)) return false;
    return true;
  };
  if (!walk(t.root, 0, nullptr)) return faults;
  for (size_t d = 0; d < levels.size(); ++d) {
    const auto& lv = levels[d];
    for (size_t i = 0; i < lv.size(); ++i) {
      const IndexNode& n = Node(lv[i], t.keyLength, t.pad);
      uint32_t wantLeft = i > 0 ? lv[i - 1] : kNoPage;
      uint32_t wantRight = i + 1 < lv.size() ? lv[i + 1] : kNoPage;
      if (n.left != wantLeft || n.right != wantRight)
        faults.push_back(where + "sibling links of page " + std::to_string(lv[i]) + " are wrong");
    }
  }
  if (entries) {
    for (size_t i = 1; i < entries->size(); ++i) {
      const auto& a = (*entries)[i - 1];
      const auto& b = (*entries)[i];
      if (Compare(a.key, a.record, b.key, b.record) >= 0) {
        faults.push_back(where + "keys out of order at record " + std::to_string(b.record));
        break;
      }
    }
  }
  return faults;
}

}  // namespace tv::xbase
