// Paragraph formatting and the centred message box.
#include <algorithm>
#include <cctype>
#include <vector>

#include "formengine/screen_state.h"

namespace kap {

namespace {

// Cells a text takes: bytes below 32 take none.
int VisibleLength(const std::string& text, size_t from, size_t to) {
  int n = 0;
  for (size_t i = from; i < to; ++i)
    if (static_cast<unsigned char>(text[i]) >= 32) ++n;
  return n;
}

// Inserts blanks into the gaps between words, one gap after the other from the left, until
// `missing` blanks are placed. Gaps after the leading indent only.
void Justify(std::string& line, size_t wordsFrom, int missing) {
  std::vector<size_t> gaps;  // index of the last blank of each gap between two words
  bool afterWord = false;
  for (size_t i = wordsFrom; i + 1 < line.size(); ++i) {
    if (line[i] != ' ')
      afterWord = true;
    else if (line[i + 1] != ' ' && afterWord)
      gaps.push_back(i);
  }
  if (gaps.empty()) {
    line.append(static_cast<size_t>(missing), ' ');
    return;
  }
  std::vector<int> extra(gaps.size(), 0);
  for (int k = 0; k < missing; ++k) ++extra[k % gaps.size()];
  for (size_t g = gaps.size(); g-- > 0;) line.insert(gaps[g], static_cast<size_t>(extra[g]), ' ');
}

}  // namespace

void WrapText(std::string& text, int16_t indent, int16_t width, const std::string& mode) {
  const int firstIndent = indent > 0 ? indent : 0;
  const int nextIndent = indent < 0 ? -indent : 0;
  const char m =
      mode.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(mode[0])));
  std::string out;
  size_t pos = 0;
  const size_t n = text.size();
  bool first = true;
  while (pos < n) {
    const int lineIndent = first ? firstIndent : nextIndent;
    first = false;
    // At least one character per line, so that a narrow width still ends.
    const int room = std::max(1, width - lineIndent);
    const size_t start = pos;
    size_t end = pos;
    int taken = 0;
    while (end < n && taken < room) {
      if (static_cast<unsigned char>(text[end]) >= 32) ++taken;
      ++end;
    }
    // Control bytes right after the last counted one still belong to this line.
    while (end < n && static_cast<unsigned char>(text[end]) < 32) ++end;
    if (end < n && text[end] != ' ') {
      size_t blank = text.rfind(' ', end - 1);
      if (blank != std::string::npos && blank > pos) end = blank;
    }
    std::string line(static_cast<size_t>(lineIndent), ' ');
    line.append(text, pos, end - pos);
    pos = end;
    while (pos < n && text[pos] == ' ') ++pos;
    const bool last = pos >= n;
    const int missing = std::max(0, width - lineIndent - VisibleLength(text, start, end));
    switch (m) {
      case 'E':
      case 'L':
      case 'I':
        line.append(static_cast<size_t>(missing), ' ');
        break;
      case 'N':
        line.append(static_cast<size_t>(missing), '-');
        break;
      case 'D':
      case 'R':
        line.insert(static_cast<size_t>(lineIndent), static_cast<size_t>(missing), ' ');
        break;
      case 'C':
        line.insert(static_cast<size_t>(lineIndent), static_cast<size_t>(missing / 2), ' ');
        line.append(static_cast<size_t>(missing - missing / 2), ' ');
        break;
      case 'A':
      case 'B':
        if (!last) Justify(line, static_cast<size_t>(lineIndent), missing);
        break;
      default:
        break;
    }
    out += line;
  }
  text = out;
}

void ShowMessage(int16_t row, const std::string& message) {
  SetColour("+rh");
  std::string text = message;
  WrapText(text, 0, 76, "i");
  int lines = static_cast<int>(text.size() / 76);
  // An empty message still gets a box, so the caller's PopWindow closes it and not its own.
  if (lines == 0) {
    text.assign(76, ' ');
    lines = 1;
  }
  const int rows = ScreenRows();
  int top = std::max(1, row - (lines + 1) / 2 - 2);
  int bottom = top + lines + 1;
  if (bottom > rows) {
    bottom = rows;
    top = bottom - lines - 1;
  }
  if (top >= 1) {
    int left = 0, right = 0;
    std::vector<std::string> shown;
    for (int k = 0; k < lines; ++k) {
      std::string line = text.substr(static_cast<size_t>(k) * 76, 76);
      line.erase(line.find_last_not_of(' ') + 1);
      int w = static_cast<int>(line.size());
      if (right - left < w + 4) {
        left = 41 - (w + 1) / 2 - 2;
        right = w / 2 + 42;
      }
      shown.push_back(line);
    }
    PushWindow(static_cast<int16_t>(top), static_cast<int16_t>(left), static_cast<int16_t>(bottom),
               static_cast<int16_t>(right));
    DrawFrame(1);
    for (int k = 0; k < lines; ++k) {
      LocateInWindow(static_cast<int16_t>(k + 1), 2);
      WriteText(shown[static_cast<size_t>(k)]);
    }
  }
  SetColour("-");
}

void ShowMessageAndWait(int16_t row, const std::string& text) {
  ShowMessage(row, text);
  Beep();
  FlushKeys();
  int16_t key = 0;
  WaitKey(key);
  PopWindow();
}

}  // namespace kap
