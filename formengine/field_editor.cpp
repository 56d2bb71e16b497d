// The field editor: one fixed-width field, free text or a choice among options.
#include <algorithm>

#include "formengine/screen_state.h"
#include "platform/text.h"
#include "session/session.h"

namespace kap {

namespace {

struct Option {
  std::string code, text;
};

std::vector<Option> ParseOptions(const std::string& list) {
  std::vector<Option> options;
  size_t at = list.find('|');
  while (at != std::string::npos) {
    size_t next = list.find('|', at + 1);
    std::string entry =
        list.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    size_t comma = entry.find(',');
    if (comma == std::string::npos)
      options.push_back({entry, ""});
    else
      options.push_back({entry.substr(0, comma), entry.substr(comma + 1)});
    at = next;
  }
  return options;
}

bool IsSeparator(char c) { return c == ' ' || c == ',' || c == '.' || c == ';' || c == ':'; }

class Editor {
 public:
  Editor(int16_t row, int16_t column, int wrap, std::string& text, int position)
      : con_(GetConsole()),
        text_(text),
        len_(static_cast<int>(text.size())),
        wrap_(wrap),
        pos_(position) {
    screenRow_ = WindowOriginRow() - 1 + row;
    screenColumn_ = WindowOriginColumn() - 1 + column;
    options_ = ParseOptions(ScreenStateRef().activeOptions);
    hidden_ = EchoChar() != 0;
    single_ = wrap_ == len_ + 1;
  }

  int16_t Run() {
    if (!options_.empty()) {
      current_ = 0;
      for (size_t i = 0; i < options_.size(); ++i)
        if (PadOrCut(options_[i].code, text_.size()) == text_) {
          current_ = static_cast<int>(i);
          break;
        }
      for (const Option& o : options_)
        displayWidth_ = std::max(displayWidth_, static_cast<int>(o.text.size()));
      PutMarker(screenColumn_ - 1, kMarkerLeft);
      PutMarker(screenColumn_ + displayWidth_, kMarkerRight);
    }
    SetColour("u");
    Display();
    for (;;) {
      int key = NextKey();
      if (key == key::kIns) {
        SetInsertToggle(!InsertToggle());
        continue;
      }
      if (!Handle(key)) continue;
      // Ending: translate, then filter through the active key list.
      if (key == key::kShiftTab) key = key::kUp;
      if (key == key::kTab) key = key::kEnter;
      if (key == key::kEnter && KeyListHas(key::kEnd)) key = key::kEnd;
      if (key == key::kCtrlF4 || key == key::kAltF4) key = key::kEsc;
      int16_t reported = static_cast<int16_t>(key);
      if (!LookupKey(static_cast<int16_t>(key), &reported)) {
        if (key >= 0) continue;
        reported = static_cast<int16_t>(key);
      }
      SetColour("h");
      if (!options_.empty()) {
        PutMarker(screenColumn_ - 1, ' ');
        PutMarker(screenColumn_ + displayWidth_, ' ');
      }
      return reported;
    }
  }

  int Position() const { return pos_; }

 private:
  void PutMarker(int column, uint8_t ch) {
    con_.PutCell(screenRow_, column, Cell{ch, con_.Attribute()});
  }

  void WriteAt(int row, int column, const std::string& text) {
    con_.SetCursor(row, column);
    // Clip at the right edge rather than wrap onto the next row.
    int room = con_.Columns() - column + 1;
    if (room <= 0 || row > con_.Rows()) return;
    con_.Write(
        text.substr(0, static_cast<size_t>(std::min<int>(room, static_cast<int>(text.size())))));
  }

  int Lines() const { return single_ ? 1 : (len_ + wrap_ - 1) / wrap_; }

  void Display() {
    if (!options_.empty()) {
      text_ = PadOrCut(options_[static_cast<size_t>(current_)].code, static_cast<size_t>(len_));
      std::string shown = options_[static_cast<size_t>(current_)].text;
      shown.resize(static_cast<size_t>(displayWidth_), ' ');
      WriteAt(screenRow_, screenColumn_, shown);
      return;
    }
    if (hidden_) {
      const char echo = static_cast<char>(EchoChar());
      if (single_) {
        WriteAt(screenRow_, screenColumn_, std::string(static_cast<size_t>(len_), echo));
      } else {
        for (int line = 0; line < Lines(); ++line)
          WriteAt(screenRow_ + line, screenColumn_,
                  std::string(static_cast<size_t>(std::max(0, wrap_ - 1)), echo));
      }
      return;
    }
    for (int line = 0; line < Lines(); ++line)
      WriteAt(screenRow_ + line, screenColumn_,
              text_.substr(static_cast<size_t>(line) * wrap_, static_cast<size_t>(wrap_)));
  }

  void PlaceCursor() {
    int r, c;
    if (pos_ == len_ + 1 && pos_ > 1 && (pos_ - 1) % wrap_ == 0) {
      r = (pos_ - 2) / wrap_;
      c = (pos_ - 2) % wrap_ + 1;
    } else {
      r = (pos_ - 1) / wrap_;
      c = (pos_ - 1) % wrap_;
    }
    con_.SetCursor(screenRow_ + r, screenColumn_ + c);
  }

  int NextKey() {
    PlaceCursor();
    con_.SetCursorSize(InsertToggle() ? 50 : 99);
    con_.SetCursorVisible(true);
    int16_t key = 0, buttons = 0, row = 0, column = 0;
    for (;;) {
      ReadKey(key, buttons, row, column);
      if (key != 0 || buttons != 0) break;
      RunIdleHandler();
      con_.Refresh();
      con_.WaitInput(100);
    }
    con_.SetCursorVisible(false);
    if (key == 0) {
      clickRow_ = row;
      clickColumn_ = column;
      return -(column * 100 + row);
    }
    // Codes from 0x8000 on are negative too and go the way of clicks.
    if (key < 0) {
      clickRow_ = (-key) % 100;
      clickColumn_ = (-key) / 100;
    }
    return key;
  }

  // Acts on a key; true when it ends editing.
  bool Handle(int key) {
    if (key < 0) return Click();
    return options_.empty() ? HandleText(key) : HandleOption(key);
  }

  bool Click() {
    const int r = clickRow_ - screenRow_, c = clickColumn_ - screenColumn_;
    if (!options_.empty()) {
      if (r != 0) return true;
      if (c == -1)
        Select(current_ - 1);
      else if (c == displayWidth_)
        Select(current_ + 1);
      else if (c < 0 || c > displayWidth_)
        return true;
      return false;
    }
    const int width = single_ ? len_ : wrap_;
    if (r < 0 || r >= Lines() || c < 0 || c >= width) return true;
    pos_ = std::clamp(r * wrap_ + c + 1, 1, len_ + 1);
    return false;
  }

  void Select(int index) {
    const int n = static_cast<int>(options_.size());
    current_ = ((index % n) + n) % n;
    Display();
  }

  bool HandleOption(int key) {
    if ((key >= 33 && key <= 126) || (key >= 128 && key <= 254)) {
      const char typed = FoldTextMode(std::string(1, static_cast<char>(key)), true)[0];
      const int n = static_cast<int>(options_.size());
      auto matches = [&](int i) {
        const std::string& code = options_[static_cast<size_t>(i)].code;
        return !code.empty() && FoldTextMode(code.substr(0, 1), true)[0] == typed;
      };
      int found = -1;
      for (int i = current_ + 1; i < n && found < 0; ++i)
        if (matches(i)) found = i;
      for (int i = 0; i < n && found < 0; ++i)
        if (matches(i)) found = i;
      if (found >= 0) Select(found);
      return false;
    }
    switch (key) {
      case key::kLeft:
        Select(current_ - 1);
        return false;
      case key::kRight:
      case key::kSpace:
        Select(current_ + 1);
        return false;
      case key::kBackspace:
      case key::kDel:
      case key::kCtrlY:
      case key::kCtrlHome:
      case key::kCtrlLeft:
      case key::kCtrlRight:
      case key::kCtrlV:
        return false;
      case key::kHome:
        pos_ = 1;
        return false;
      case key::kEnd:
        pos_ = static_cast<int>(text_.find_last_not_of(' ') + 1) + 1;
        return false;
      case key::kCtrlC:
        GetClipboard().Write(CurrentSession().WorkDir,
                             options_[static_cast<size_t>(current_)].text);
        return false;
      default:
        return true;
    }
  }

  bool HandleText(int key) {
    if ((key >= 32 && key <= 126) || (key >= 128 && key <= 254)) {
      const char ch = static_cast<char>(key);
      if (InsertToggle()) {
        if (len_ > 0 && text_.back() == ' ' && pos_ <= len_) {
          text_.insert(static_cast<size_t>(pos_ - 1), 1, ch);
          text_.pop_back();
          ++pos_;
          Display();
        }
      } else if (pos_ <= len_) {
        text_[static_cast<size_t>(pos_ - 1)] = ch;
        ++pos_;
        Display();
      }
      return false;
    }
    switch (key) {
      case key::kLeft:
        pos_ = std::max(1, pos_ - 1);
        return false;
      case key::kRight:
        pos_ = std::min(len_ + 1, pos_ + 1);
        return false;
      case key::kBackspace:
        if (pos_ > 1) {
          --pos_;
          text_.erase(static_cast<size_t>(pos_ - 1), 1);
          text_.push_back(' ');
          Display();
        }
        return false;
      case key::kDel:
        if (pos_ <= len_) {
          text_.erase(static_cast<size_t>(pos_ - 1), 1);
          text_.push_back(' ');
          Display();
        }
        return false;
      case key::kHome:
        pos_ = 1;
        return false;
      case key::kEnd: {
        size_t last = text_.find_last_not_of(' ');
        pos_ = last == std::string::npos ? 1 : static_cast<int>(last) + 2;
        return false;
      }
      case key::kCtrlHome:
      case key::kCtrlY:
        text_.assign(static_cast<size_t>(len_), ' ');
        pos_ = 1;
        Display();
        return false;
      case key::kCtrlLeft:
        if (pos_ > 1) {
          int i = pos_ - 1;
          while (i >= 1 && IsSeparator(text_[static_cast<size_t>(i - 1)])) --i;
          while (i >= 1 && !IsSeparator(text_[static_cast<size_t>(i - 1)])) --i;
          pos_ = i + 1;
        }
        return false;
      case key::kCtrlRight:
        if (pos_ <= len_) {
          int i = pos_;
          while (i <= len_ && !IsSeparator(text_[static_cast<size_t>(i - 1)])) ++i;
          while (i <= len_ && IsSeparator(text_[static_cast<size_t>(i - 1)])) ++i;
          pos_ = i;
        }
        return false;
      case key::kUp:
      case key::kShiftTab:
        if ((pos_ - 1) / wrap_ > 0) {
          pos_ -= wrap_;
          return false;
        }
        return true;
      case key::kDown:
        if (pos_ <= len_ + 1 - wrap_) {
          pos_ += wrap_;
          return false;
        }
        return true;
      case key::kCtrlC:
        GetClipboard().Write(CurrentSession().WorkDir, TrimSpaces(text_));
        return false;
      case key::kCtrlV: {
        std::string pasted;
        if (!GetClipboard().Read(CurrentSession().WorkDir, &pasted)) return false;
        std::string clean;
        for (char c : pasted) {
          unsigned char u = static_cast<unsigned char>(c);
          if (u >= 32 && u != 127 && u != 255) clean.push_back(c);
        }
        clean = TrimSpaces(clean);
        for (size_t i = 0; i < clean.size() && pos_ - 1 + static_cast<int>(i) < len_; ++i)
          text_[static_cast<size_t>(pos_ - 1) + i] = clean[i];
        Display();
        return false;
      }
      default:
        return true;
    }
  }

  Console& con_;
  std::string& text_;
  const int len_;
  const int wrap_;
  int pos_;
  int screenRow_ = 1, screenColumn_ = 1;
  std::vector<Option> options_;
  int current_ = 0;
  int displayWidth_ = 0;
  bool hidden_ = false;
  bool single_ = true;
  int clickRow_ = 0, clickColumn_ = 0;
};

}  // namespace

void EditField(int16_t& row, int16_t& column, int16_t wrap, std::string& text, int16_t& position,
               int16_t& key) {
  Console& con = GetConsole();
  if (row == 0) row = static_cast<int16_t>(con.CursorRow() - WindowOriginRow() + 1);
  if (column == 0) column = static_cast<int16_t>(con.CursorColumn() - WindowOriginColumn() + 1);
  // Positions are 16-bit: a text longer than they can address is cut (no field comes near).
  if (text.size() > 32766) text.resize(32766);
  const int len = static_cast<int>(text.size());
  int pos = std::clamp<int>(position, 1, len + 1);
  int w = wrap <= 0 ? len + 1 : wrap;
  Editor editor(row, column, w, text, pos);
  key = editor.Run();
  position = static_cast<int16_t>(editor.Position());
  LocateInWindow(row, column);
}

void SetFieldOptions(const std::string& options) { ScreenStateRef().activeOptions = options; }

}  // namespace kap
