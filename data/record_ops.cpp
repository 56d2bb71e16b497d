// Record operations: find, skip, look-ahead, physical positions, insert, update, delete, key
// images and the access log.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "data/data_internal.h"
#include "formengine/screen.h"
#include "platform/bytes.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "session/session.h"

namespace kap {
namespace data {
namespace {

std::string Int32Bytes(int32_t v) { return LittleEndianBytes32(static_cast<uint32_t>(v)); }

// Fewer than 4 bytes (a short record manager answer) read as zero-padded.
int32_t BytesInt32(std::string bytes) {
  bytes.resize(4, '\0');
  return static_cast<int32_t>(LittleEndian32(bytes, 0));
}

// One number of a log line: sign place, digits, one trailing space.
void LogNumber(std::string* line, int value, bool pad) {
  if (value >= 0) *line += ' ';
  *line += std::to_string(value);
  *line += ' ';
  if (!pad) return;
  do {
    *line += ' ';
  } while (line->size() % 14 != 0);
}

std::string AccessLogText() {
  const std::string& language = CurrentSession().Language;
  if (language == "SPA") return "NO SE PUEDE ESCRIBIR EL REGISTRO DE ACCESOS db.log";
  if (language == "GLG") return "NOM SE PODE ESCREVER O REXISTO DE ACESSOS db.log";
  if (language == "OCI") return "NON SE P\xE3T ESCRIUER ETH REGISTRE D'ACC\x8aSSI db.log";
  return "NO ES POT ESCRIURE EL REGISTRE D'ACCESSOS db.log";
}

// Losing the log is never silent: the operator hears it once, stderr at the end.
void AccessLogFailed(int error) {
  std::string& problem = State().accessLogProblem;
  if (!problem.empty()) return;
  const std::string cause =
      error == ELOOP ? "a symbolic link, which is not followed" : std::strerror(error);
  problem = GetOs().CurrentDir() + "/db.log: " + cause +
            "; the access log misses the changes made from then on";
  ShowMessageAndWait(12, AccessLogText());
}

void AppendLog(int16_t fileNumber, int operation, int16_t status) {
  std::string line;
  LogNumber(&line, fileNumber, true);
  LogNumber(&line, operation, true);
  LogNumber(&line, status, false);
  line += "\r\n";
  // The operation stands even when the log cannot take its line.
  if (int error = GetOs().AppendFile("db.log", line)) AccessLogFailed(error);
}

// A move without record transfer (Get Next / Previous into a scratch area). The key value is
// passed and kept at its full length, so keys holding zero bytes survive the move.
int16_t MoveWithoutTransfer(FileEntry& e, int operation, std::string* key) {
  std::string area(std::max<size_t>(kDataArea, static_cast<size_t>(e.RecordLength)), '\0');
  uint32_t length = static_cast<uint32_t>(area.size());
  int16_t status = BTRCALL(operation, e.PositionBlock.data(), area.data(), &length, key->data(),
                           static_cast<uint8_t>(kKeyArea - 1), static_cast<int8_t>(e.KeyNumber));
  return status == rm::kDataBufferTooShort ? 0 : status;
}

std::string KeyArea(const std::string& value) {
  std::string key(kKeyArea, '\0');
  std::memcpy(key.data(), value.data(), std::min(value.size(), kKeyArea - 1));
  return key;
}

}  // namespace
}  // namespace data

using data::State;

void FindRecord(int16_t fileNumber, int16_t keyNumber, const std::string& value, int16_t mode,
                int16_t& status) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) {
    status = data_status::kNotOpen;
    return;
  }
  int16_t keyLength = 0, recordLength = 0;
  GetFileInfo(fileNumber, keyNumber, keyLength, recordLength);
  if (keyLength == 0) {
    status = data_status::kNoSuchKey;
    return;
  }
  FileEntry& e = State().entries[entry];
  e.KeyNumber = keyNumber;
  e.KeyValue = value;
  e.KeyValue.resize(static_cast<size_t>(keyLength), '\0');
  int16_t operation = mode == find_mode::kEqual ? rm::kGetEqual
                      : mode > 0                ? rm::kGetGreaterOrEqual
                                                : rm::kGetLessOrEqual;
  status = 0;
  CallRecordManager(entry, operation, status);
  if (status == rm::kDataBufferTooShort) status = 0;
}

void SkipRecords(int16_t fileNumber, int16_t count, int16_t& status) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) {
    status = data_status::kNotOpen;
    return;
  }
  status = 0;
  if (count == 0) return;
  FileEntry& e = State().entries[entry];
  int operation = count < 0 ? rm::kGetPrevious : rm::kGetNext;
  int n = count < 0 ? -static_cast<int>(count) : count;
  std::string key = data::KeyArea(e.KeyValue);
  while (n > 1 && status == 0) {
    status = data::MoveWithoutTransfer(e, operation, &key);
    e.KeyValue = key.substr(0, e.KeyValue.size());
    --n;
  }
  if (n == 1 && status == 0) {
    CallRecordManager(entry, static_cast<int16_t>(operation), status);
    if (status == rm::kDataBufferTooShort) status = 0;
  }
}

int16_t RecordsAhead(int16_t fileNumber, int16_t count, const std::string& bound) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) return 0;
  FileEntry& e = State().entries[entry];
  PushSaved(data::Int32Bytes(RecordPosition(fileNumber, 0)));
  int operation = count < 0 ? rm::kGetPrevious : rm::kGetNext;
  int n = count < 0 ? -static_cast<int>(count) : count;
  int16_t status = 0;
  std::string key = data::KeyArea(e.KeyValue);
  while (n != 0 && status == 0) {
    status = data::MoveWithoutTransfer(e, operation, &key);
    --n;
  }
  std::string image =
      KeyImage(key.substr(0, std::min(bound.size(), e.KeyValue.size())), fileNumber);
  bool answer = status == 0 && (count < 0 ? image >= bound : image <= bound);
  int32_t saved = data::BytesInt32(PopSaved());
  if (saved != 0) RecordPosition(fileNumber, saved);
  return answer ? -1 : 0;
}

int32_t RecordPosition(int16_t fileNumber, int32_t position) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) return 0;
  FileEntry& e = State().entries[entry];
  size_t recordLength = static_cast<size_t>(std::max(e.RecordLength, 0));
  std::string area(std::max(data::kDataArea, recordLength), ' ');
  uint32_t length = static_cast<uint32_t>(area.size());
  if (position == 0) {
    std::memset(area.data(), 0, 4);
    char key[4] = {0, 0, 0, 0};
    int16_t status =
        BTRCALL(rm::kGetPosition, e.PositionBlock.data(), area.data(), &length, key, 0, 0);
    return status == 0 ? data::BytesInt32(area) : 0;
  }
  std::string bytes = data::Int32Bytes(position);
  std::memcpy(area.data(), bytes.data(), 4);
  std::string key(data::kKeyArea, '\0');
  int16_t status =
      BTRCALL(rm::kGetDirect, e.PositionBlock.data(), area.data(), &length, key.data(),
              static_cast<uint8_t>(data::kKeyArea - 1), static_cast<int8_t>(e.KeyNumber));
  if (status == 0 || status == rm::kDataBufferTooShort)
    e.KeyValue = key.substr(0, e.KeyValue.size());
  if (status == rm::kDataBufferTooShort) status = 0;
  if (status == 0 && e.RecordArea != nullptr)
    std::memcpy(e.RecordArea, area.data(), std::min<size_t>(length, recordLength));
  return status;
}

void InsertRecord(int16_t fileNumber, int16_t& status) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) {
    status = data_status::kNotOpen;
    return;
  }
  status = 0;
  CallRecordManager(entry, rm::kInsert, status);
  data::AppendLog(fileNumber, rm::kInsert, status);
  FileEntry& e = State().entries[entry];
  if (status != 0) e.KeyValue.assign(e.KeyValue.size(), '\0');
}

void UpdateRecord(int16_t fileNumber, int16_t& status) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) {
    status = data_status::kNotOpen;
    return;
  }
  PushSaved(data::Int32Bytes(RecordPosition(fileNumber, 0)));
  status = 0;
  CallRecordManager(entry, rm::kUpdate, status);
  data::AppendLog(fileNumber, rm::kUpdate, status);
  if (status == rm::kDataBufferTooShort) status = 0;
  FileEntry& e = State().entries[entry];
  if (status != 0) e.KeyValue.assign(e.KeyValue.size(), '\0');
  // Reads the stored record back: after a refused update the caller sees what is stored.
  RecordPosition(fileNumber, data::BytesInt32(PopSaved()));
}

void DeleteRecord(int16_t fileNumber, int16_t& status) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) {
    status = data_status::kNotOpen;
    return;
  }
  status = 0;
  CallRecordManager(entry, rm::kDelete, status);
  FileEntry& e = State().entries[entry];
  if (status != 0) e.KeyValue.assign(e.KeyValue.size(), '\0');
}

std::string KeyImage(const std::string& value, int16_t fileNumber) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) return value;
  const std::string& stat = data::Statistics(entry);
  if (stat.size() < 16) return value;
  auto get16 = [&](size_t at) { return static_cast<int>(LittleEndian16(stat, at)); };
  int keys = get16(4);
  // Segments of all keys, to find the collating sequence after them.
  size_t segments = 0;
  for (int k = 0; k < keys; ++k) {
    for (;;) {
      size_t at = 16 + 16 * segments;
      if (at + 16 > stat.size()) return value;  // statistics cut short
      ++segments;
      if (!(get16(at + 4) & rm::kKeySegmented)) break;
    }
  }
  size_t tableAt = 16 + 16 * segments + 9;
  bool haveTable = tableAt + 256 <= stat.size();
  int keyNumber = State().entries[entry].KeyNumber;
  std::string image = value;
  size_t p = 0;  // 0-based here
  size_t segment = 0;
  for (int k = 0; k < keys; ++k) {
    for (;;) {
      size_t at = 16 + 16 * segment++;
      size_t s = static_cast<size_t>(get16(at + 2));
      int flags = get16(at + 4);
      if (k == keyNumber) {
        if (flags & rm::kKeyBinary) {
          if (image.size() < p + s) image.resize(p + s, '\0');
          std::reverse(image.begin() + static_cast<std::ptrdiff_t>(p),
                       image.begin() + static_cast<std::ptrdiff_t>(p + s));
        } else if ((flags & rm::kKeyAcs) && haveTable) {
          for (size_t j = 0; j < s && p + j < image.size(); ++j)
            image[p + j] = stat[tableAt + static_cast<uint8_t>(image[p + j])];
        }
        p += s;
      }
      if (!(flags & rm::kKeySegmented)) break;
    }
  }
  return image;
}

std::string CurrentKeyImage(int16_t fileNumber) {
  int entry = data::FindSlot(fileNumber);
  if (entry == 0) return "";
  return KeyImage(State().entries[entry].KeyValue, fileNumber);
}

void CheckAccessLog() {
  // Only an existing log is tried: a missing one is created by the first line, and creating it
  // here would leave a file behind a run that changed nothing.
  if (!State().accessLogProblem.empty() || !GetOs().FileExists("db.log")) return;
  if (int error = GetOs().AppendFile("db.log", "")) data::AccessLogFailed(error);
}

const std::string& AccessLogProblem() { return State().accessLogProblem; }

}  // namespace kap
