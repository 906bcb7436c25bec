// The compound index file (.CDX) in the compact-index page format: a file
// header that is the tag directory, one 1024-byte header per tag, and a
// B+tree of 512-byte interior and leaf pages per tag. Keys are kept in
// ascending (key bytes, record number) order; a descending tag is the same
// tree read backwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace tv::xbase {

// Raised inside the engine when an index file cannot be read; the table
// turns it into "set aside" or a user-facing error.
class IndexDamaged : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kNoPage = 0xFFFFFFFF;

struct IndexEntry {
  std::string key;
  uint32_t record = 0;
  uint32_t child = 0;  // interior pages only
};

struct IndexNode {
  uint32_t offset = 0;
  uint16_t attributes = 0;  // 1 root, 2 leaf
  uint32_t left = kNoPage;
  uint32_t right = kNoPage;
  int keyLength = 0;
  std::vector<IndexEntry> entries;
  bool IsLeaf() const { return (attributes & 2) != 0; }
  bool IsRoot() const { return (attributes & 1) != 0; }
};

// One tag as its header describes it.
struct IndexTag {
  std::string name;
  uint32_t headerOffset = 0;
  uint32_t root = 0;
  int keyLength = 0;
  uint8_t options = 0;
  bool descending = false;
  std::string keyExpression;
  std::string forExpression;
  char pad = ' ';  // trailing byte compressed in leaves
  bool unique() const { return (options & 0x01) != 0; }
};

// A position in a tag's stored (ascending) order.
struct IndexCursor {
  uint32_t leaf = kNoPage;
  int index = -1;
  bool Valid() const { return leaf != kNoPage && index >= 0; }
};

class IndexFile {
 public:
  IndexFile() = default;
  ~IndexFile();
  IndexFile(const IndexFile&) = delete;
  IndexFile& operator=(const IndexFile&) = delete;

  // Writes a new index file with an empty tag directory.
  static void CreateEmpty(const std::filesystem::path& path);

  // Opens and reads the file header, the directory and every tag header.
  // Throws IndexDamaged when they cannot be read, std::system_error style
  // failures as IndexDamaged too (the caller reports the file).
  void Open(const std::filesystem::path& path, bool writable);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::filesystem::path& Path() const { return path_; }

  // Tags in creation (header offset) order.
  const std::vector<IndexTag>& Tags() const { return tags_; }
  // The key byte 'pad' of every tag is filled in by the caller after it has
  // worked out the key type from the expression.
  void SetPad(size_t tag, char pad) { tags_[tag].pad = pad; }

  // Adds a tag built from sorted (key, record) pairs. `tag` gives name,
  // expressions, key length, options, direction and pad.
  void AddTag(IndexTag tag, const std::vector<IndexEntry>& sorted, uint32_t recordCount);

  // Key maintenance; Remove returns false when the entry was not there.
  void Insert(size_t tag, const std::string& key, uint32_t record);
  bool Remove(size_t tag, const std::string& key, uint32_t record);
  // The first entry with this key, or an invalid cursor (unique tags).
  bool ContainsKey(size_t tag, const std::string& key);

  // Reading in stored order.
  IndexCursor First(size_t tag);
  IndexCursor Last(size_t tag);
  IndexCursor Next(size_t tag, IndexCursor c);
  IndexCursor Prior(size_t tag, IndexCursor c);
  // First entry >= (key, record).
  IndexCursor Seek(size_t tag, const std::string& key, uint32_t record);
  const IndexEntry& At(size_t tag, IndexCursor c);
  // Every record number in stored order.
  std::vector<uint32_t> AllRecords(size_t tag);

  // Marks the file as being updated (a reserved byte of the file header)
  // before a change and clears the mark after it, so that a change cut
  // short is found at the next open.
  void BeginUpdate();
  void EndUpdate();
  bool WasInterrupted() const { return interrupted_; }

  // Shared use: re-reads the header when another program changed the file.
  // Returns true when the cached pages were dropped.
  bool RefreshIfChanged();
  void SetShared(bool shared) { shared_ = shared; }

  // Full structural check of one tag: returns faults, one per line.
  std::vector<std::string> CheckTree(size_t tag, std::vector<IndexEntry>* entries);

 private:
  const IndexNode& Node(uint32_t offset, int keyLength, char pad);
  void WriteNode(IndexNode& node, char pad);
  void ReadRaw(uint32_t offset, uint8_t* page);
  void WriteRaw(uint32_t offset, const uint8_t* data, size_t size);
  uint32_t AllocatePage();
  void FreePage(uint32_t offset);
  void ReadHeaderAndTags();
  IndexTag ReadTagHeader(uint32_t offset, const std::string& name);
  void InsertInto(uint32_t root, int keyLength, char pad, const std::string& key,
                  uint32_t record, uint32_t child);
  bool RemoveFrom(uint32_t root, int keyLength, char pad, const std::string& key,
                  uint32_t record);
  void StoreAfterInsert(std::vector<std::pair<IndexNode, int>>& path, size_t level, char pad);
  void StoreAfterRemove(std::vector<std::pair<IndexNode, int>>& path, size_t level, char pad);
  void FixParentKeys(std::vector<std::pair<IndexNode, int>>& path, size_t level, char pad);
  std::vector<std::pair<IndexNode, int>> PathTo(uint32_t root, int keyLength, char pad,
                                                const std::string& key, uint32_t record);
  void DropCaches();
  void BumpCounter();
  [[noreturn]] void Damaged(const std::string& what) const;

  std::filesystem::path path_;
  int fd_ = -1;
  bool writable_ = false;
  bool shared_ = false;
  bool interrupted_ = false;
  int updateDepth_ = 0;
  uint64_t fileSize_ = 0;
  uint32_t directoryRoot_ = 0;
  uint32_t freeHead_ = 0;
  uint32_t counter_ = 0;
  std::vector<IndexTag> tags_;
  std::unordered_map<uint32_t, IndexNode> nodes_;
};

// Bits of a leaf entry, by the rule other writers follow.
int BitsFor(uint64_t value);

}  // namespace tv::xbase
