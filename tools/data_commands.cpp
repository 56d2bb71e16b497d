// kaptool data: create data files from dictionaries, show their statistics, save and load
// their records in the unformatted text form, dump them, check them, and compile readable
// dictionary descriptions into binary dictionaries.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "tools/commands.h"
#include "tools/data_check.h"

namespace kap::tool {
namespace {

int RunData(const std::vector<std::string>& args);

const ToolCommand kDataCommand{
    "data", "create, inspect, save, load, dump and check data files; compile dictionaries",
    "usage: kaptool data create [--replace] FILE DICTIONARY\n"
    "       kaptool data stat FILE\n"
    "       kaptool data save [--replace] FILE OUT\n"
    "       kaptool data load [--replace] FILE IN\n"
    "       kaptool data dump FILE\n"
    "       kaptool data check [FILE...]\n"
    "       kaptool data dictionary DESCRIPTION OUT\n\n"
    "FILE is a data file's path, with or without .dat.\n"
    "create      makes FILE from a binary dictionary (.xdf); refuses an existing file\n"
    "            unless --replace.\n"
    "stat        shows the record length, page size, record count and keys.\n"
    "save        writes every record in key 0 order: length, comma, bytes, CR LF; Ctrl+Z\n"
    "            at the end. Refuses an existing OUT unless --replace.\n"
    "load        inserts the records of such a file (the final Ctrl+Z may be missing), all\n"
    "            or nothing: a malformed line or a refused insert names its line and leaves\n"
    "            FILE as it was. --replace empties FILE first, in the same transaction.\n"
    "dump        prints every record in key 0 order as hex and text.\n"
    "check       reads the files (the owner-removal program's, under $KAPROOT, when none is\n"
    "            given) and changes nothing: the store's own check, every stored key image\n"
    "            against its record, duplicates on keys without duplicates, and estates and\n"
    "            owners naming each other wrongly. Lists each problem on its own line and\n"
    "            their total; exits 0 when sound, 1 on problems, 2 when a file cannot be\n"
    "            opened. All the files are read as of one moment; on the local files the\n"
    "            terminals' writes wait until the check ends.\n"
    "dictionary  compiles a readable description into a binary dictionary:\n"
    "              record 321                 record length (first)\n"
    "              page 1024                  page size (default 4096)\n"
    "              key duplicates modifiable  starts the next key\n"
    "              segment 1 2 binary         position, length, flags: string, binary,\n"
    "                                         descending, acs\n"
    "              acs NAME upper             or NAME and 256 hex bytes\n",
    RunData};

std::string DataPath(const std::string& file) {
  std::string path = file;
  std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (tail != ".dat") path += ".dat";
  return GetOs().MapPath(path);
}

bool ReadWhole(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *out = buffer.str();
  return true;
}

// One open data file.
class DataFile {
 public:
  ~DataFile() {
    if (open_) {
      uint32_t length = 0;
      BTRCALL(rm::kClose, block_, nullptr, &length, nullptr, 0, 0);
    }
  }
  int16_t Open(const std::string& path) {
    if (path.size() > 255) return rm::kInvalidFileName;
    std::string key = path;
    char owner[5] = {'K', 'A', 'P', 'S', 0};
    uint32_t length = sizeof owner;
    int16_t status =
        BTRCALL(rm::kOpen, block_, owner, &length, key.data(), static_cast<uint8_t>(key.size()), 0);
    open_ = status == 0;
    if (open_) status = Stat(&stat_);
    return status;
  }
  int16_t Stat(std::string* out) {
    std::string data(34000, '\0'), key(255, ' ');
    uint32_t length = static_cast<uint32_t>(data.size());
    int16_t status = BTRCALL(rm::kStat, block_, data.data(), &length, key.data(), 255, 0);
    if (status == 0) *out = data.substr(0, length);
    return status;
  }
  uint16_t RecordLength() const { return LittleEndian16(stat_, 0); }
  uint16_t Keys() const { return LittleEndian16(stat_, 4); }
  // Reads the first (or next) record in key 0 order, or physical order without keys.
  int16_t Read(bool first, std::string* record) {
    std::string data(65000, '\0');
    uint32_t length = static_cast<uint32_t>(data.size());
    int op = Keys() == 0 ? (first ? rm::kStepFirst : rm::kStepNext)
                         : (first ? rm::kGetFirst : rm::kGetNext);
    int16_t status = BTRCALL(op, block_, data.data(), &length, key_, 255, 0);
    if (status == 0) *record = data.substr(0, length);
    return status;
  }
  int16_t Position(uint32_t* pos) {
    char data[4] = {};
    uint32_t length = 4;
    int16_t status = BTRCALL(rm::kGetPosition, block_, data, &length, key_, 255, 0);
    *pos = LittleEndian32(std::string(data, 4), 0);
    return status;
  }
  // Deletes the record just read.
  int16_t Delete() {
    char data[4] = {};
    uint32_t length = 0;
    return BTRCALL(rm::kDelete, block_, data, &length, key_, 255, 0);
  }
  // Inserts `records` in order; stops at the first refusal, *inserted telling how many went in.
  int16_t InsertAll(const std::vector<std::string>& records, size_t* inserted) {
    return InsertRecords(block_, records, inserted);
  }
  const std::string& stat() const { return stat_; }

 private:
  char block_[rm::kPositionBlockSize] = {};
  char key_[256] = {};
  bool open_ = false;
  std::string stat_;
};

int OpenOrSay(DataFile* file, const std::string& path) {
  int16_t status = file->Open(path);
  if (status != 0)
    std::fprintf(stderr, "kaptool data: cannot open %s (status %d)\n", path.c_str(), status);
  return status;
}

int Create(const std::vector<std::string>& args) {
  bool replace = false;
  std::vector<std::string> rest;
  for (const std::string& a : args) {
    if (a == "--replace")
      replace = true;
    else
      rest.push_back(a);
  }
  if (rest.size() != 2) return UsageError(kDataCommand, "create takes FILE and DICTIONARY");
  std::string dictionary;
  if (!ReadWhole(rest[1], &dictionary) || dictionary.size() < 2) {
    std::fprintf(stderr, "kaptool data: cannot read dictionary %s\n", rest[1].c_str());
    return 1;
  }
  int16_t n = static_cast<int16_t>(LittleEndian16(dictionary, 0));
  std::string block = dictionary.substr(2, n > 0 ? static_cast<size_t>(n) : 0);
  std::string path = DataPath(rest[0]);
  char positionBlock[rm::kPositionBlockSize] = {};
  uint32_t length = static_cast<uint32_t>(block.size());
  std::string key = path;
  if (key.size() > 255) return UsageError(kDataCommand, "path longer than 255 characters");
  int16_t status = BTRCALL(rm::kCreate, positionBlock, block.data(), &length, key.data(),
                           static_cast<uint8_t>(key.size()), replace ? 0 : -1);
  if (status == rm::kFileExists) {
    std::fprintf(stderr, "kaptool data: %s exists (use --replace)\n", path.c_str());
    return 1;
  }
  if (status != 0) {
    std::fprintf(stderr, "kaptool data: cannot create %s (status %d)\n", path.c_str(), status);
    return 1;
  }
  std::printf("created %s\n", path.c_str());
  return 0;
}

std::string FlagNames(uint16_t flags) {
  static const struct {
    uint16_t bit;
    const char* name;
  } names[] = {{rm::kKeyDuplicates, "duplicates"},
               {rm::kKeyModifiable, "modifiable"},
               {rm::kKeyBinary, "binary"},
               {rm::kKeySegmented, "segmented"},
               {rm::kKeyAcs, "acs"},
               {rm::kKeyDescending, "descending"},
               {rm::kKeyRepeatingDuplicates, "repeating"},
               {rm::kKeyExtendedType, "extended"},
               {rm::kKeyNoCase, "nocase"}};
  std::string out;
  for (const auto& n : names)
    if (flags & n.bit) out += std::string(out.empty() ? "" : ",") + n.name;
  return out.empty() ? "string" : out;
}

int Stat(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError(kDataCommand, "stat takes FILE");
  DataFile file;
  std::string path = DataPath(args[0]);
  if (OpenOrSay(&file, path) != 0) return 1;
  const std::string& s = file.stat();
  std::printf("file         %s\n", path.c_str());
  std::printf("record       %u bytes\n", LittleEndian16(s, 0));
  std::printf("page         %u bytes\n", LittleEndian16(s, 2));
  std::printf("records      %u\n", LittleEndian32(s, 6));
  std::printf("keys         %u\n", LittleEndian16(s, 4));
  size_t at = 16;
  bool acs = false;
  for (unsigned k = 0; k < LittleEndian16(s, 4); ++k) {
    int segment = 0;
    for (;;) {
      if (at + 16 > s.size()) return 1;
      uint16_t flags = LittleEndian16(s, at + 4);
      std::printf("key %-3u seg %d  position %-5u length %-4u values %-9u %s\n", k, segment++,
                  LittleEndian16(s, at), LittleEndian16(s, at + 2), LittleEndian32(s, at + 6),
                  FlagNames(flags).c_str());
      acs = acs || (flags & rm::kKeyAcs);
      at += 16;
      if (!(flags & rm::kKeySegmented)) break;
    }
  }
  if (acs && at + 265 <= s.size()) std::printf("acs          %s\n", s.substr(at + 1, 8).c_str());
  return 0;
}

// Takes a leading --replace off `args`.
bool TakeReplace(std::vector<std::string>* args) {
  if (args->empty() || (*args)[0] != "--replace") return false;
  args->erase(args->begin());
  return true;
}

int Save(std::vector<std::string> args) {
  const bool replace = TakeReplace(&args);
  if (args.size() != 2) return UsageError(kDataCommand, "save takes FILE and OUT");
  DataFile file;
  std::string path = DataPath(args[0]);
  if (OpenOrSay(&file, path) != 0) return 1;
  if (!replace && std::filesystem::exists(args[1])) {
    std::fprintf(stderr, "kaptool data: %s exists; give --replace to overwrite it\n",
                 args[1].c_str());
    return 1;
  }
  std::FILE* out = std::fopen(args[1].c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "kaptool data: cannot write %s: %s\n", args[1].c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::string record;
  long count = 0;
  int16_t status = file.Read(true, &record);
  for (; status == 0; status = file.Read(false, &record), ++count) {
    std::string head = std::to_string(record.size()) + ",";
    std::fwrite(head.data(), 1, head.size(), out);
    std::fwrite(record.data(), 1, record.size(), out);
    std::fwrite("\r\n", 1, 2, out);
  }
  std::fputc(0x1A, out);
  bool written = !std::ferror(out);
  int error = errno;
  if (std::fclose(out) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    std::fprintf(stderr, "kaptool data: cannot write %s after %ld records: %s\n", args[1].c_str(),
                 count, std::strerror(error));
    return 1;
  }
  if (status != rm::kEndOfFile) {
    std::fprintf(stderr, "kaptool data: save stopped after %ld records (status %d)\n", count,
                 status);
    return 1;
  }
  std::fprintf(stderr, "saved %ld records\n", count);
  return 0;
}

int16_t Transaction(int operation) {
  char none[rm::kPositionBlockSize] = {};
  uint32_t length = 0;
  return BTRCALL(operation, none, none, &length, none, 0, 0);
}

// Records a load hands to the record manager at a time.
constexpr size_t kLoadBatch = 10000;

int Load(std::vector<std::string> args) {
  const bool replace = TakeReplace(&args);
  if (args.size() != 2) return UsageError(kDataCommand, "load takes FILE and IN");
  DataFile file;
  std::string path = DataPath(args[0]);
  if (OpenOrSay(&file, path) != 0) return 1;
  std::FILE* in = std::fopen(args[1].c_str(), "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "kaptool data: cannot read %s\n", args[1].c_str());
    return 1;
  }
  // One transaction: a bad line, a refused insert or a kill leaves the file as it was, so the
  // load can simply be run again.
  if (int16_t status = Transaction(rm::kBeginTransaction)) {
    std::fclose(in);
    std::fprintf(stderr, "kaptool data: cannot start the load (status %d)\n", status);
    return 1;
  }
  const size_t recordLength = file.RecordLength();
  long line = 0, loaded = 0, removed = 0;
  std::string problem;
  // Records read but not yet inserted, sent together; they are lines pendingLine on.
  std::vector<std::string> pending;
  long pendingLine = 1;
  auto insertPending = [&] {
    size_t inserted = 0;
    int16_t status = file.InsertAll(pending, &inserted);
    loaded += static_cast<long>(inserted);
    if (status != 0) {
      line = pendingLine + static_cast<long>(inserted);
      problem = "insert refused (status " + std::to_string(status) + ")";
    }
    pendingLine += static_cast<long>(pending.size());
    pending.clear();
    return status == 0;
  };
  if (replace) {
    std::string record;
    int16_t status = file.Read(true, &record);
    for (; status == 0; status = file.Read(false, &record), ++removed) {
      if ((status = file.Delete()) != 0) break;
    }
    if (status != rm::kEndOfFile)
      problem = "cannot empty " + path + " (status " + std::to_string(status) + ")";
  }
  while (problem.empty()) {
    int c = std::fgetc(in);
    if (c == EOF || c == 0x1A) break;
    ++line;
    // The length: decimal digits, then a comma (or a blank).
    size_t length = 0;
    int digits = 0;
    while (c != EOF && std::isdigit(c) && digits < 6) {
      length = length * 10 + static_cast<size_t>(c - '0');
      ++digits;
      c = std::fgetc(in);
    }
    if (digits == 0 || (c != ',' && c != ' ')) {
      problem = "no record length";
      break;
    }
    if (length != recordLength) {
      problem = "length " + std::to_string(length) + " is not the record length " +
                std::to_string(recordLength);
      break;
    }
    std::string record(length, '\0');
    if (std::fread(record.data(), 1, length, in) != length) {
      problem = "record cut short";
      break;
    }
    if (std::fgetc(in) != '\r' || std::fgetc(in) != '\n') {
      problem = "record not followed by CR LF";
      break;
    }
    pending.push_back(std::move(record));
    if (pending.size() == kLoadBatch) {
      if (!insertPending()) break;
      std::fprintf(stderr, "loaded %ld records\r", loaded);
    }
  }
  // The records before a malformed line go in first: a refusal among them is told instead,
  // being the earlier line.
  if (!pending.empty()) {
    std::string malformed = problem;
    long malformedLine = line;
    if (insertPending()) {
      problem = malformed;
      line = malformedLine;
    }
  }
  std::fclose(in);
  if (problem.empty()) {
    if (int16_t status = Transaction(rm::kEndTransaction)) {
      std::fprintf(stderr,
                   "kaptool data: the load of %ld records was not committed (status %d); "
                   "%s is as it was\n",
                   loaded, status, path.c_str());
      return 1;
    }
    if (replace) std::fprintf(stderr, "replaced %ld records\n", removed);
    std::fprintf(stderr, "loaded %ld records\n", loaded);
    return 0;
  }
  Transaction(rm::kAbortTransaction);
  std::fprintf(stderr, "kaptool data: %s line %ld: %s; nothing loaded, %s is as it was\n",
               args[1].c_str(), line, problem.c_str(), path.c_str());
  return 1;
}

int Check(const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  for (const std::string& file : args.empty() ? ProgramDataFiles() : args) {
    if (!file.empty() && file[0] == '-') return UsageError(kDataCommand, "unknown option " + file);
    paths.push_back(DataPath(file));
  }
  return CheckDataFiles(paths);
}

int Dump(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError(kDataCommand, "dump takes FILE");
  DataFile file;
  std::string path = DataPath(args[0]);
  if (OpenOrSay(&file, path) != 0) return 1;
  std::string record;
  long count = 0;
  int16_t status = file.Read(true, &record);
  for (; status == 0; status = file.Read(false, &record)) {
    uint32_t pos = 0;
    file.Position(&pos);
    std::printf("record %ld (position %u, %zu bytes)\n", ++count, pos, record.size());
    for (size_t at = 0; at < record.size(); at += 16) {
      std::printf("  %04zx ", at);
      std::string text;
      for (size_t i = at; i < at + 16; ++i) {
        if (i < record.size()) {
          unsigned char b = static_cast<unsigned char>(record[i]);
          std::printf(" %02x", b);
          text += b >= 32 && b < 127 ? static_cast<char>(b) : '.';
        } else {
          std::printf("   ");
        }
      }
      std::printf("  %s\n", text.c_str());
    }
  }
  if (status != rm::kEndOfFile) {
    std::fprintf(stderr, "kaptool data: dump stopped (status %d)\n", status);
    return 1;
  }
  return 0;
}

// --- Readable dictionary descriptions ---

struct SegmentSpec {
  long position = 0, length = 0;
  uint16_t flags = 0;
};
struct KeySpec {
  uint16_t flags = 0;
  int line = 0;
  std::vector<SegmentSpec> segments;
};

bool ParseNumber(const std::string& word, long low, long high, long* out) {
  if (word.empty() || word.size() > 6) return false;
  for (char c : word)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  *out = std::stol(word);
  return *out >= low && *out <= high;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Compiles the description into the creation block; "" and *error on failure.
std::string CompileDescription(const std::string& text, std::string* error) {
  long record = 0, page = 4096;
  std::vector<KeySpec> keys;
  std::string acs;
  bool anyAcs = false;
  std::istringstream lines(text);
  std::string raw;
  int number = 0;
  auto fail = [&](int line, const std::string& what) {
    *error = "line " + std::to_string(line) + ": " + what;
    return std::string();
  };
  while (std::getline(lines, raw)) {
    ++number;
    std::string content = raw.substr(0, raw.find('#'));
    std::istringstream words(content);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty()) continue;
    const std::string& directive = w[0];
    if (directive != "record" && record == 0)
      return fail(number, "the first directive must be record");
    if (directive == "record") {
      if (record != 0) return fail(number, "record given twice");
      if (w.size() != 2 || !ParseNumber(w[1], 4, rm::kMaxRecordLength, &record))
        return fail(number, "record needs a length from 4 to 4088");
    } else if (directive == "page") {
      if (w.size() != 2 || !ParseNumber(w[1], 512, 4096, &page) || page % 512 != 0)
        return fail(number, "page needs a size of 512 to 4096 in steps of 512");
    } else if (directive == "key") {
      if (!keys.empty() && keys.back().segments.empty())
        return fail(keys.back().line, "key without a segment");
      KeySpec key;
      key.line = number;
      for (size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "duplicates")
          key.flags |= rm::kKeyDuplicates;
        else if (w[i] == "modifiable")
          key.flags |= rm::kKeyModifiable;
        else
          return fail(number, "unknown key flag " + w[i]);
      }
      keys.push_back(key);
    } else if (directive == "segment") {
      if (keys.empty()) return fail(number, "segment before any key");
      SegmentSpec seg;
      if (w.size() < 3 || !ParseNumber(w[1], 1, record, &seg.position) ||
          !ParseNumber(w[2], 1, 255, &seg.length))
        return fail(number, "segment needs a position and a length inside the record");
      if (seg.position + seg.length - 1 > record)
        return fail(number, "segment ends past the record");
      for (size_t i = 3; i < w.size(); ++i) {
        if (w[i] == "string") continue;
        if (w[i] == "binary")
          seg.flags |= rm::kKeyBinary;
        else if (w[i] == "descending")
          seg.flags |= rm::kKeyDescending;
        else if (w[i] == "acs")
          seg.flags |= rm::kKeyAcs;
        else
          return fail(number, "unknown segment flag " + w[i]);
      }
      if ((seg.flags & rm::kKeyBinary) && (seg.flags & rm::kKeyAcs))
        return fail(number, "a binary segment cannot use acs");
      anyAcs = anyAcs || (seg.flags & rm::kKeyAcs);
      long total = seg.length;
      for (const SegmentSpec& s : keys.back().segments) total += s.length;
      if (total > rm::kMaxKeyLength) return fail(number, "key longer than 255 bytes");
      keys.back().segments.push_back(seg);
    } else if (directive == "acs") {
      if (!acs.empty()) return fail(number, "acs given twice");
      if (w.size() < 3 || w[1].size() > 8)
        return fail(number, "acs needs a name of up to 8 characters and a table");
      acs.assign(265, '\0');
      acs[0] = static_cast<char>(0xAC);
      acs.replace(1, 8, (w[1] + std::string(8, ' ')).substr(0, 8));
      if (w.size() == 3 && w[2] == "upper") {
        for (int b = 0; b < 256; ++b)
          acs[9 + static_cast<size_t>(b)] = static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
      } else {
        std::string hex;
        for (size_t i = 2; i < w.size(); ++i) hex += w[i];
        if (hex.size() != 512) return fail(number, "acs table needs 256 hex bytes");
        for (size_t i = 0; i < 256; ++i) {
          int hi = HexValue(hex[2 * i]), lo = HexValue(hex[2 * i + 1]);
          if (hi < 0 || lo < 0) return fail(number, "acs table: not a hex byte");
          acs[9 + i] = static_cast<char>(hi * 16 + lo);
        }
      }
    } else {
      return fail(number, "unknown directive " + directive);
    }
  }
  if (record == 0) return fail(number, "no record directive");
  if (!keys.empty() && keys.back().segments.empty())
    return fail(keys.back().line, "key without a segment");
  if (record + 8 > page) return fail(number, "record does not fit the page");
  if (anyAcs && acs.empty()) return fail(number, "a segment uses acs but no acs is given");
  rm::FileLayout layout;
  layout.recordLength = static_cast<uint16_t>(record);
  layout.pageSize = static_cast<uint16_t>(page);
  for (const KeySpec& key : keys) {
    layout.keys.emplace_back();
    for (const SegmentSpec& seg : key.segments) {
      layout.keys.back().push_back({static_cast<uint16_t>(seg.position),
                                    static_cast<uint16_t>(seg.length),
                                    static_cast<uint16_t>(key.flags | seg.flags)});
    }
  }
  if (anyAcs) layout.acs = acs;
  std::string block = rm::BuildCreationBlock(layout);
  if (block.size() > 32767) return fail(number, "too many segments");
  return block;
}

int Dictionary(const std::vector<std::string>& args) {
  if (args.size() != 2) return UsageError(kDataCommand, "dictionary takes DESCRIPTION and OUT");
  std::string text;
  if (!ReadWhole(args[0], &text)) {
    std::fprintf(stderr, "kaptool data: cannot read %s\n", args[0].c_str());
    return 1;
  }
  std::string error;
  std::string block = CompileDescription(text, &error);
  if (block.empty()) {
    std::fprintf(stderr, "kaptool data: %s: %s\n", args[0].c_str(), error.c_str());
    return 1;
  }
  std::string out(2, '\0');
  PutLittleEndian16(&out, 0, static_cast<uint16_t>(block.size()));
  out += block;
  std::ofstream file(args[1], std::ios::binary | std::ios::trunc);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!file.flush()) {
    std::fprintf(stderr, "kaptool data: cannot write %s\n", args[1].c_str());
    return 1;
  }
  return 0;
}

int RunData(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError(kDataCommand, "");
  std::vector<std::string> rest(args.begin() + 1, args.end());
  const std::string& what = args[0];
  if (what == "create") return Create(rest);
  if (what == "stat") return Stat(rest);
  if (what == "save") return Save(rest);
  if (what == "load") return Load(rest);
  if (what == "dump") return Dump(rest);
  if (what == "check") return Check(rest);
  if (what == "dictionary") return Dictionary(rest);
  return UsageError(kDataCommand, "unknown subcommand " + what);
}

}  // namespace
}  // namespace kap::tool
