// The 121-byte lock entry, the lock key text and the minute clock of the lock files.
#include "locking/lock_internal.h"

namespace kap {

namespace {

// Field offsets and widths of an entry.
constexpr size_t kHostAt = 0, kHostLen = 15;
constexpr size_t kNumberAt = 15, kNumberLen = 11;
constexpr size_t kTimeAt = 26, kTimeLen = 8;
constexpr size_t kTypeAt = 34;
constexpr size_t kFromLenAt = 35, kLenLen = 2;
constexpr size_t kFromKeyAt = 37, kKeyLen = 40;
constexpr size_t kToLenAt = 77;
constexpr size_t kToKeyAt = 79;
constexpr size_t kLineEndAt = 119, kLineEndLen = 2;

}  // namespace

LockEntry LockEntry::Parse(const std::string& bytes) {
  const std::string b = PadOrCut(bytes, kLockEntrySize);
  LockEntry e;
  e.host = b.substr(kHostAt, kHostLen);
  e.number = b.substr(kNumberAt, kNumberLen);
  e.time = b.substr(kTimeAt, kTimeLen);
  e.type = b[kTypeAt];
  e.fromLength = b.substr(kFromLenAt, kLenLen);
  e.fromKey = b.substr(kFromKeyAt, kKeyLen);
  e.toLength = b.substr(kToLenAt, kLenLen);
  e.toKey = b.substr(kToKeyAt, kKeyLen);
  e.lineEnd = b.substr(kLineEndAt, kLineEndLen);
  return e;
}

std::string LockEntry::Bytes() const {
  std::string b;
  b.reserve(kLockEntrySize);
  b += PadOrCut(host, kHostLen);
  b += PadOrCut(number, kNumberLen);
  b += PadOrCut(time, kTimeLen);
  b += type;
  b += PadOrCut(fromLength, kLenLen);
  b += PadOrCut(fromKey, kKeyLen);
  b += PadOrCut(toLength, kLenLen);
  b += PadOrCut(toKey, kKeyLen);
  b += PadOrCut(lineEnd, kLineEndLen);
  return b;
}

bool LockEntry::NumberBlank() const { return locking::Blank(number); }

bool LockEntry::NumberValue(int64_t* value) const { return locking::ParseNumber(number, value); }

int64_t LockEntry::TimeValue() const { return locking::ParseLeadingDigits(time); }

int LockEntry::LengthValue(const std::string& field) { return locking::ParseLength(field); }

int64_t MinutesSince1970(const LocalTime& t) {
  // Days from civil (proleptic Gregorian), exact for any year.
  const int64_t y = static_cast<int64_t>(t.year) - (t.month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t m = t.month;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + t.day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  return days * 1440 + static_cast<int64_t>(t.hour) * 60 + t.minute;
}

std::string LockKeyText(const std::string& key) {
  std::string text;
  text.reserve(key.size() * 2);
  for (char c : key) {
    const unsigned byte = static_cast<unsigned char>(c);
    if (byte >= 128 && byte <= 227) {
      text += static_cast<char>('0' + (byte - 128) / 10);
      text += static_cast<char>('0' + (byte - 128) % 10);
    } else {
      text += c;
    }
  }
  return text;
}

namespace locking {

bool Blank(std::string_view field) {
  return field.find_first_not_of(' ') == std::string_view::npos;
}

bool ParseNumber(std::string_view field, int64_t* value) {
  const size_t begin = field.find_first_not_of(' ');
  if (begin == std::string_view::npos) return false;
  const std::string_view text = field.substr(begin, field.find_last_not_of(' ') - begin + 1);
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') negative = text[i++] == '-';
  if (i == text.size() || text.size() > 19) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = negative ? -v : v;
  return true;
}

int64_t ParseLeadingDigits(std::string_view field) {
  size_t i = field.find_first_not_of(' ');
  if (i == std::string_view::npos) return 0;
  int64_t v = 0;
  // Fields are at most 11 characters: no overflow.
  for (; i < field.size() && i < 18 && field[i] >= '0' && field[i] <= '9'; ++i) {
    v = v * 10 + (field[i] - '0');
  }
  return v;
}

int ParseLength(std::string_view field) {
  const int64_t v = ParseLeadingDigits(field);
  return v > kLockKeyMax ? kLockKeyMax : static_cast<int>(v);
}

bool IsStale(const RawEntry& entry, int64_t nowMinutes) {
  if (entry.Free() && Blank(entry.number())) return false;
  // A time far ahead would otherwise hold the key for ever: a clock set wrong, or a write.
  constexpr int64_t kDay = 1440;
  return entry.time() < nowMinutes - kLockStaleMinutes || entry.time() > nowMinutes + kDay;
}

bool NumberIsMine(const RawEntry& entry, const LockIdentity& id) {
  int64_t number = 0;
  return ParseNumber(entry.number(), &number) && number == id.number;
}

bool IsMine(const RawEntry& entry, const LockIdentity& id) {
  return entry.host() == id.host && NumberIsMine(entry, id);
}

std::string ClearedBytes(const RawEntry& entry) {
  std::string bytes(entry.b);
  bytes.replace(0, kHostLen + kNumberLen, kHostLen + kNumberLen, ' ');
  bytes[kTypeAt] = ' ';
  return bytes;
}

}  // namespace locking
}  // namespace kap
