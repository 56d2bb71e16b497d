// The calculator's state file: written whole at every closing, read at every opening, so the
// next pop-up on this terminal (in any program of the suite) goes on where the last one stopped.
#include <charconv>
#include <cmath>
#include <vector>

#include "platform/os.h"
#include "platform/text.h"
#include "popups/popups.h"
#include "popups/popups_internal.h"
#include "session/session.h"

namespace kap {

namespace {

const char kStateFile[] = "KAPCALC.TMP";
constexpr size_t kHeaderItems = 10;
constexpr size_t kItemsPerSlot = 4;

std::string Number(double value) {
  if (value == 0) value = 0;  // no "-0" in the file
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

struct Item {
  std::string text;
  bool quoted = false;
};

// Items separated by commas or line ends; a quoted item runs to the next quote. Blank lines
// are skipped. False when a quoted item is not closed or is followed by other text.
bool SplitItems(const std::string& text, std::vector<Item>* items) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (TrimSpaces(line, " \t").empty()) continue;
    size_t p = 0;
    for (;;) {
      while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
      Item item;
      if (p < line.size() && line[p] == '"') {
        size_t close = line.find('"', p + 1);
        if (close == std::string::npos) return false;
        item.text = line.substr(p + 1, close - p - 1);
        item.quoted = true;
        p = close + 1;
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
        if (p < line.size() && line[p] != ',') return false;
      } else {
        size_t comma = line.find(',', p);
        if (comma == std::string::npos) comma = line.size();
        item.text = TrimSpaces(line.substr(p, comma - p), " \t");
        p = comma;
      }
      items->push_back(item);
      if (p >= line.size()) break;
      ++p;  // the comma
    }
  }
  return true;
}

bool ReadDouble(const Item& item, double* value) {
  if (item.quoted || item.text.empty()) return false;
  std::string text = item.text;
  // Exponents written with D by older writers.
  for (char& c : text)
    if (c == 'D' || c == 'd') c = 'E';
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (*begin == '+') ++begin;
  double v = 0;
  auto result = std::from_chars(begin, end, v, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool ReadInt(const Item& item, int lo, int hi, int16_t* value) {
  double v = 0;
  if (!ReadDouble(item, &v) || v != std::trunc(v) || v < lo || v > hi) return false;
  *value = static_cast<int16_t>(v);
  return true;
}

bool ReadTruth(const Item& item, int16_t* value) {
  int16_t v = 0;
  if (!ReadInt(item, -32768, 32767, &v)) return false;
  *value = v != 0 ? -1 : 0;
  return true;
}

bool ReadText(const Item& item, const char* allowed, std::string* value) {
  if (!item.quoted || item.text.size() > 1) return false;
  if (!item.text.empty() && std::string(allowed).find(item.text[0]) == std::string::npos)
    return false;
  *value = item.text;
  return true;
}

bool ReadState(const std::vector<Item>& items, CalculatorState* s) {
  if (items.empty()) return true;
  if (items.size() < kHeaderItems || (items.size() - kHeaderItems) % kItemsPerSlot != 0)
    return false;
  if (!ReadInt(items[0], 1, calc::kLastWindowColumn, &s->WindowColumn) ||
      !ReadInt(items[1], calc::kFullTape, calc::kEmptyTape, &s->FirstTapeLine) ||
      !ReadDouble(items[2], &s->Entry) || !ReadDouble(items[3], &s->Accumulator) ||
      !ReadTruth(items[4], &s->ClearedOnce) || !ReadTruth(items[5], &s->EntryStarted) ||
      !ReadTruth(items[6], &s->HasPoint) ||
      !ReadInt(items[7], 0, calc::kMaxDecimals, &s->Decimals) ||
      !ReadText(items[8], calc::kMarks, &s->LastKey) ||
      !ReadText(items[9], calc::kOperators, &s->PendingOperator))
    return false;
  if (!s->HasPoint && s->Decimals != 0) return false;
  size_t at = kHeaderItems;
  for (int slot = 1; slot <= calc::kTapeSlots && at < items.size(); ++slot, at += kItemsPerSlot) {
    TapeLine& line = s->Tape[static_cast<size_t>(slot)];
    if (!ReadDouble(items[at], &line.Value) || !ReadTruth(items[at + 1], &line.HasPoint) ||
        !ReadInt(items[at + 2], 0, calc::kMaxDecimals, &line.Decimals) ||
        !ReadText(items[at + 3], calc::kMarks, &line.Operator))
      return false;
    if (!line.HasPoint && line.Decimals != 0) return false;
  }
  return true;
}

std::string StatePath() { return CurrentSession().TerminalDir + kStateFile; }

}  // namespace

std::string CalculatorStateText(const CalculatorState& s) {
  const std::string kEnd = "\r\n";
  std::string text = std::to_string(s.WindowColumn) + "," + std::to_string(s.FirstTapeLine) + "," +
                     Number(s.Entry) + "," + Number(s.Accumulator) + kEnd;
  text += std::to_string(s.ClearedOnce) + "," + std::to_string(s.EntryStarted) + "," +
          std::to_string(s.HasPoint) + "," + std::to_string(s.Decimals) + kEnd;
  text += Quoted(s.LastKey) + "," + Quoted(s.PendingOperator) + kEnd;
  for (int slot = 1; slot <= calc::kTapeSlots; ++slot) {
    const TapeLine& line = s.Tape[static_cast<size_t>(slot)];
    text += Number(line.Value) + "," + std::to_string(line.HasPoint) + "," +
            std::to_string(line.Decimals) + "," + Quoted(line.Operator) + kEnd;
  }
  return text;
}

bool ParseCalculatorState(const std::string& text, CalculatorState* state) {
  std::vector<Item> items;
  CalculatorState read;
  bool ok = SplitItems(text, &items) && ReadState(items, &read);
  *state = ok ? read : CalculatorState();
  return ok;
}

CalculatorState LoadCalculatorState() {
  CalculatorState state;
  OpenResult result;
  auto file = GetOs().OpenFile(StatePath(), true, false, Sharing::kShared, &result);
  if (!file) return state;
  int64_t size = file->Size();
  // Far larger than anything the calculator writes: not a state file.
  if (size <= 0 || size > calc::kMaxStateFileSize) return state;
  std::string text;
  if (!file->ReadAt(0, static_cast<size_t>(size), &text)) return state;
  ParseCalculatorState(text, &state);
  return state;
}

bool SaveCalculatorState(const CalculatorState& state) {
  OpenResult result;
  auto file = GetOs().OpenFile(StatePath(), true, false, Sharing::kShared, &result);
  if (!file) return false;
  return file->Truncate(0) && file->WriteAt(0, CalculatorStateText(state));
}

}  // namespace kap
