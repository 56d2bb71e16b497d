// Internals of the SQLite record engine: the file definition parsed from a creation block,
// key values and their sortable images, the statistics layout, and record locks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/record_manager.h"

namespace kap::rm {

enum class SegmentKind { kString, kUnsigned, kSigned };

struct Segment {
  uint16_t position = 0;  // 1-based
  uint16_t length = 0;
  uint16_t flags = 0;
  SegmentKind kind = SegmentKind::kString;
  bool descending = false;
  bool acs = false;
  bool noCase = false;
};

struct KeyDef {
  std::vector<Segment> segments;
  int length = 0;
  bool duplicates = false;
  bool modifiable = false;
};

struct FileDef {
  uint16_t recordLength = 0;
  uint16_t pageSize = 0;
  uint16_t fileFlags = 0;
  std::vector<KeyDef> keys;
  std::string acs;    // 265 bytes when any segment uses it, else empty
  std::string block;  // the creation block, normalised: spec, key specs, ACS
  int segmentCount = 0;
};

// Checks and parses a Create data buffer; returns 0 or the Create status that refuses it.
int16_t ParseCreationBlock(const uint8_t* data, size_t length, FileDef* def);

// The key's value as the caller sees it: its segments' bytes in order.
std::string KeyValueOf(const FileDef& def, int key, const std::string& record);
// Bytes that sort (memcmp) like the key: binary parts big-endian, signed parts with the sign
// bit flipped, collating sequence or case folding applied, descending segments inverted.
// `value` is a key value; short values are padded with zero bytes.
std::string KeyImageOf(const FileDef& def, int key, const std::string& value);

// The Stat answer: the creation block with record count and per-key unique counts filled in.
std::string BuildStat(const FileDef& def, uint32_t records, const std::vector<uint32_t>& unique,
                      bool compactKeyCount);

// Moves the finished file `from` to the name `to` in one step. Without `replace` an existing
// `to` is refused: false, with *existed set. `from` may remain after a refusal.
bool PlaceFile(const std::string& from, const std::string& to, bool replace, bool* existed);

// Record locks held in a lock file beside the database as open-file-description locks: they
// belong to one open handle (not the process), survive other closes of the file and vanish
// with the holder. Byte 0 is the file-open lock; record at position p uses byte p + 1.
class LockFile {
 public:
  LockFile() = default;
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  bool Open(const std::string& path);
  // Non-blocking; false when another handle holds a conflicting lock.
  bool TryLock(int64_t offset, bool exclusive);
  void Unlock(int64_t offset);
  // True when another handle holds a lock on that byte.
  bool HeldByOther(int64_t offset);
  // Drops the descriptor without touching the locks (a forked child's inherited copy).
  void Abandon() { fd_ = -1; }

 private:
  int fd_ = -1;
#ifdef _WIN32
  // Windows cannot tell a handle's own locks from another's, nor convert one in place: the
  // bytes this handle holds, exclusive or not.
  std::map<int64_t, bool> held_;
#endif
};

}  // namespace kap::rm
