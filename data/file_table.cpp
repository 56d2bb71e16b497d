// The file table: opening data files (with creation from their dictionary), file statistics,
// the one call through which records move, lock modes and the final reset.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/data_internal.h"
#include "formengine/screen.h"
#include "platform/bytes.h"
#include "platform/console.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "session/session.h"

namespace kap {
namespace data {

DataState& State() {
  static DataState state;
  return state;
}

int FindSlot(int16_t fileNumber, int* freeEntry) {
  DataState& s = State();
  if (freeEntry != nullptr) *freeEntry = 0;
  if (fileNumber == 0) return 0;  // 0 marks a free entry, never an open file
  for (int i = 1; i <= kFileTableSize; ++i)
    if (s.entries[i].FileNumber == fileNumber) return i;
  if (freeEntry != nullptr)
    for (int i = kFileTableSize; i >= 1; --i)
      if (s.entries[i].FileNumber == 0) {
        *freeEntry = i;
        break;
      }
  return 0;
}

const std::string& Statistics(int entry) {
  DataState& s = State();
  std::string& cached = s.statistics[entry];
  if (!cached.empty()) return cached;
  FileEntry& e = s.entries[entry];
  // Large enough for the most segments a file can have, so the answer is never cut.
  std::string area(34000, '\0');
  uint32_t length = static_cast<uint32_t>(area.size());
  std::string key(kKeyArea, ' ');
  int16_t status =
      BTRCALL(rm::kStat, e.PositionBlock.data(), area.data(), &length, key.data(), 255, 0);
  if (status == 0 && length >= 16 && length <= area.size()) cached = area.substr(0, length);
  return cached;
}

int KeyLength(const std::string& stat, int keyNumber) {
  if (stat.size() < 16 || keyNumber < 0) return 0;
  auto get16 = [&](size_t at) { return static_cast<int>(LittleEndian16(stat, at)); };
  int keys = get16(4);
  if (keyNumber >= keys) return 0;
  size_t offset = 16;
  int sum = 0;
  for (int k = 0; k <= keyNumber; ++k) {
    sum = 0;
    for (;;) {
      if (offset + 16 > stat.size()) return 0;  // statistics cut short: no such key
      sum += get16(offset + 2);
      bool more = (get16(offset + 4) & rm::kKeySegmented) != 0;
      offset += 16;
      if (!more) break;
    }
  }
  return sum;
}

std::string LockText() {
  const std::string& language = CurrentSession().Language;
  if (language == "SPA") return "FICHERO BLOQUEADO. ESPERE UN MOMENTO.";
  if (language == "GLG") return "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.";
  if (language == "OCI") return "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT.";
  return "FITXER BLOQUEJAT. ESPEREU UN MOMENT.";
}

void PauseForLock() {
  GetOs().SleepMs(static_cast<int>(std::lround(10000.0 * GetOs().Random() + 1.0)));
}

namespace {

// The access name of the suite's files, put together at run time.
std::string OwnerName() {
  std::string name;
  for (char c : {'K', 'A', 'P', 'S'}) name += c;
  return name;
}

void ClearEntry(FileEntry& e) { e = FileEntry{}; }

std::string FatalText(const std::string& name, int16_t status) {
  const std::string& language = CurrentSession().Language;
  std::string text;
  if (language == "SPA")
    text = "NO SE PUEDE ACCEDER AL FICHERO ";
  else if (language == "GLG")
    text = "NOM SE PODE ACEDER AO FICHEIRO ";
  else if (language == "OCI")
    text = "NON SE P\xE3T ACCEDIR ATH FICH\xD4R ";
  else
    text = "NO ES POT ACCEDIR AL FITXER ";
  return text + name + " (" + std::to_string(status) + ")";
}

void DefaultFatal(const std::string&, int16_t fatal) {
  std::string problem = RecordServerProblem();
  if (fatal == rm::kRecordManagerInactive && !problem.empty()) {
    // The reason goes to the shell the operator gets back, not under the form.
    GetConsole().Suspend();
    std::string program = CurrentSession().ProgramName;
    for (char& c : program) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::fprintf(stderr, "%s: %s\n", program.empty() ? "kap" : program.c_str(), problem.c_str());
  }
  int16_t status = 0;
  ResetDataFiles(status);
  std::exit(0);
}

// Directory part, base name and extension of `name` (".dat" when it has none).
void SplitName(const std::string& name, std::string* dir, std::string* base, std::string* ext) {
  size_t baseStart = 0;
  size_t dot = std::string::npos;
  for (size_t i = name.size(); i-- > 0;) {
    char c = name[i];
    if (c == ':' || c == '\\' || c == '/') {
      baseStart = i + 1;
      break;
    }
    if (c == '.') dot = i;
  }
  *dir = name.substr(0, baseStart);
  if (dot == std::string::npos) {
    *base = name.substr(baseStart);
    *ext = ".dat";
  } else {
    *base = name.substr(baseStart, dot - baseStart);
    *ext = name.substr(dot);
  }
}

// The creation block of the dictionary: a 16-bit length, then that many bytes. A missing,
// short or absurd dictionary gives what could be read (the Create then refuses it).
std::string ReadDictionary(const std::string& path) {
  OpenResult result;
  auto file = GetOs().OpenFile(path, false, true, Sharing::kShared, &result);
  if (!file) return "";
  std::string head;
  if (!file->ReadAt(0, 2, &head) || head.size() < 2) return "";
  int16_t n = static_cast<int16_t>(LittleEndian16(head, 0));
  if (n <= 0) return "";
  std::string block;
  if (!file->ReadAt(2, std::min<size_t>(static_cast<size_t>(n), kDataArea), &block)) return "";
  return block;
}

void FatalOpen(int entry, const std::string& name, int16_t status) {
  std::string text = FatalText(name, status);
  ShowMessageAndWait(12, text);
  ClearEntry(State().entries[entry]);
  State().statistics[entry].clear();
  FatalHandler handler = State().fatal ? State().fatal : FatalHandler(DefaultFatal);
  handler(text, status);
}

}  // namespace
}  // namespace data

using data::State;

FileEntry& FileTable(int entry) {
  if (entry < 0 || entry > kFileTableSize) entry = 0;
  return State().entries[entry];
}

void ResetDataState() {
  data::DataState& s = State();
  for (int i = 0; i <= kFileTableSize; ++i) {
    s.entries[i] = FileEntry{};
    s.statistics[i].clear();
  }
  s.inTransaction = false;
  s.lockModeStack.clear();
  s.saveStack.clear();
}

void SetFatalHandler(FatalHandler handler) { State().fatal = std::move(handler); }

void ResetDataFiles(int16_t& status) {
  std::string block(rm::kPositionBlockSize, ' ');
  char data[4] = {0, 0, 0, 0};
  char key[4] = {0, 0, 0, 0};
  uint32_t length = 0;
  status = BTRCALL(rm::kReset, block.data(), data, &length, key, 0, 0);
  if (status != 0) return;
  data::DataState& s = State();
  s.inTransaction = false;  // the reset aborted it
  for (int i = 1; i <= kFileTableSize; ++i) {
    s.entries[i] = FileEntry{};
    s.statistics[i].clear();
  }
}

void OpenDataFile(int16_t fileNumber, const std::string& name, void* record, size_t capacity,
                  int16_t& status) {
  data::DataState& s = State();
  int entry = 0;
  if (fileNumber == 0) {
    status = data_status::kNotOpen;  // 0 is how the table marks a free entry
    return;
  }
  if (data::FindSlot(fileNumber, &entry) != 0) {
    status = data_status::kAlreadyOpen;
    return;
  }
  if (entry == 0) {
    status = data_status::kTableFull;
    return;
  }
  FileEntry& e = s.entries[entry];
  e = FileEntry{};
  e.FileNumber = fileNumber;
  e.PositionBlock.assign(rm::kPositionBlockSize, '\0');
  e.RecordArea = static_cast<char*>(record);
  e.RecordCapacity = record == nullptr ? 0 : capacity;
  s.statistics[entry].clear();

  std::string dir, base, ext;
  data::SplitName(name, &dir, &base, &ext);
  std::string path = GetOs().MapPath(dir + base + ext);
  if (path.size() >= data::kKeyArea) {
    data::FatalOpen(entry, name, rm::kInvalidFileName);
    status = rm::kInvalidFileName;
    return;
  }
  std::string pathArea(data::kKeyArea, '\0');
  std::memcpy(pathArea.data(), path.data(), path.size());

  bool created = false;
  for (;;) {
    std::string area(data::kDataArea, '\0');
    std::string owner = data::OwnerName();
    std::memcpy(area.data(), owner.data(), owner.size());
    uint32_t length = static_cast<uint32_t>(owner.size() + 1);
    status = BTRCALL(rm::kOpen, e.PositionBlock.data(), area.data(), &length, pathArea.data(),
                     static_cast<uint8_t>(path.size()), 0);
    if (status == rm::kFileLocked) {
      GetOs().SleepMs(3000);
      continue;
    }
    // Created once only: a file that vanishes again right after is not chased forever.
    if (status == rm::kFileNotFound && !created) {
      std::string block = data::ReadDictionary(CurrentSession().RootDir + "ddf\\" + base + ".xdf");
      std::string spec(data::kDataArea, ' ');
      std::memcpy(spec.data(), block.data(), block.size());
      uint32_t specLength = static_cast<uint32_t>(spec.size());
      status = BTRCALL(rm::kCreate, e.PositionBlock.data(), spec.data(), &specLength,
                       pathArea.data(), static_cast<uint8_t>(path.size()), -1);
      created = true;
      if (status == 0) continue;
    }
    break;
  }
  if (status == 0) {
    int16_t keyLength = 0, recordLength = 0;
    GetFileInfo(fileNumber, 0, keyLength, recordLength);
    // A record longer than the caller's variable would be written past its end.
    if (recordLength <= 0 || static_cast<size_t>(recordLength) > e.RecordCapacity) {
      uint32_t none = 0;
      BTRCALL(rm::kClose, e.PositionBlock.data(), nullptr, &none, nullptr, 0, 0);
      status = rm::kDataBufferTooShort;
    } else {
      e.KeyValue.assign(static_cast<size_t>(keyLength), '\0');
      e.RecordLength = recordLength;
      return;
    }
  }
  data::FatalOpen(entry, name, status);
}

void GetFileInfo(int16_t fileNumber, int16_t keyNumber, int16_t& keyLength, int16_t& recordLength) {
  keyLength = 0;
  recordLength = 0;
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) return;
  const std::string& stat = data::Statistics(entry);
  if (stat.size() < 16) return;
  recordLength = static_cast<int16_t>(LittleEndian16(stat, 0));
  keyLength = static_cast<int16_t>(data::KeyLength(stat, keyNumber));
}

namespace {
// The operations that read a record, and the transaction start, accept a lock bias.
bool TakesLockBias(int op) {
  return (op >= rm::kGetEqual && op <= rm::kGetLast) || op == rm::kBeginTransaction ||
         (op >= rm::kGetPosition && op <= rm::kStepNext) ||
         (op >= rm::kStepFirst && op <= rm::kStepPrevious);
}
}  // namespace

void CallRecordManager(int entry, int16_t operation, int16_t& status) {
  if (entry < 1 || entry > kFileTableSize || State().entries[entry].FileNumber == 0) {
    status = data_status::kNotOpen;
    return;
  }
  FileEntry& e = State().entries[entry];
  int op = operation;
  if (e.LockMode != lock_mode::kNone && TakesLockBias(op)) op += rm::kBiasSingleNoWait;
  size_t recordLength = static_cast<size_t>(std::max(e.RecordLength, 0));
  int attempts = 0;
  for (;;) {
    if (attempts == 1) ShowMessage(24, data::LockText());
    std::string area(std::max(recordLength, data::kDataArea), '\0');
    if (e.RecordArea != nullptr) std::memcpy(area.data(), e.RecordArea, recordLength);
    uint32_t length = static_cast<uint32_t>(recordLength);
    std::string key(data::kKeyArea, '\0');
    size_t keyLength = std::min(e.KeyValue.size(), data::kKeyArea - 1);
    std::memcpy(key.data(), e.KeyValue.data(), keyLength);
    status = BTRCALL(op, e.PositionBlock.data(), area.data(), &length, key.data(),
                     static_cast<uint8_t>(keyLength), static_cast<int8_t>(e.KeyNumber));
    size_t copied = std::min<size_t>(length, recordLength);
    if (e.RecordArea != nullptr) std::memcpy(e.RecordArea, area.data(), copied);
    e.KeyValue = key.substr(0, keyLength);
    if ((status == rm::kRecordLocked || status == rm::kFileLocked) &&
        e.LockMode == lock_mode::kWait && !State().inTransaction) {
      data::PauseForLock();
      attempts = std::min(attempts + 1, 2);
      continue;
    }
    if (attempts != 0) PopWindow();
    return;
  }
}

void SetLockMode(int16_t fileNumber, const std::string& modes, int16_t& status) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) {
    status = data_status::kNotOpen;
    return;
  }
  FileEntry& e = State().entries[entry];
  std::string& stack = State().lockModeStack;
  for (char c : modes) {
    switch (c) {
      case 'D':
      case 'd':
        e.LockMode = lock_mode::kNone;
        break;
      case 'A':
      case 'a':
        e.LockMode = lock_mode::kWait;
        break;
      case 'B':
      case 'b':
        e.LockMode = lock_mode::kNoWait;
        break;
      case '+':
        stack.push_back(static_cast<char>(entry));
        stack.push_back(static_cast<char>(e.LockMode));
        break;
      case '-':
        for (size_t i = stack.size() / 2; i-- > 0;) {
          if (static_cast<uint8_t>(stack[2 * i]) == entry) {
            e.LockMode = static_cast<int16_t>(static_cast<uint8_t>(stack[2 * i + 1]));
            stack.erase(2 * i, 2);
            break;
          }
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace kap
