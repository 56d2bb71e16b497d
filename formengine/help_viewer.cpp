// ShowHelp: the help text of a topic, in a scrolling console window or, in a graphical
// Windows session, through the suite's launcher.
#include <memory>

#include "formengine/form_driver.h"
#include "formengine/form_internal.h"
#include "formengine/screen.h"
#include "platform/os.h"
#include "session/session.h"

namespace kap {
namespace {

constexpr char kHighlight = 30;
constexpr char kInput = 31;
constexpr char kReverse = 16;
constexpr size_t kShownColumns = 76;
const char* const kGeneralTopic = "UAUXMENU";

class HelpViewer {
 public:
  explicit HelpViewer(const std::string& topic) : topic_(topic) {}
  void Run();

 private:
  void ShowLine(int windowRow, int line);
  void ShowPage(int start);
  void Scroll(int lines);

  std::string topic_;
  std::unique_ptr<File> file_;
  int recordLength_ = 80;
  int lineCount_ = 0;
  int top_ = 4, left_ = 1, bottom_ = 0, right_ = 0;
  int visible_ = 0;
  int next_ = 1;  // the line after the last one shown
};

// Scrolls the inside of the window; a positive count moves the text up.
void HelpViewer::Scroll(int lines) {
  // ScrollRegion takes the rectangle one row and one column before the cells it moves.
  ScrollRegion(static_cast<int16_t>(top_), static_cast<int16_t>(left_),
               static_cast<int16_t>(bottom_ - 2), static_cast<int16_t>(right_ - 2),
               static_cast<int16_t>(lines));
}

void HelpViewer::ShowLine(int windowRow, int line) {
  SetColour("n");
  LocateInWindow(static_cast<int16_t>(windowRow), 2);
  if (!file_ || line < 1 || line > lineCount_) return;  // past the end: a blank line
  std::string record;
  int64_t at = static_cast<int64_t>(line - 1) * recordLength_;
  if (!file_->ReadAt(at, static_cast<size_t>(recordLength_), &record)) return;
  // A record ends in CR LF; with control bytes in it, the 76 characters shown would reach them.
  record = record.substr(0, record.find_first_of("\r\n"));
  if (record.find_first_of(std::string{kHighlight, kInput, kReverse}) == std::string::npos) {
    WriteText(record.substr(0, kShownColumns));
    return;
  }
  bool highlight = false, input = false, reverse = false;
  std::string run;  // characters of one colour, written together
  size_t counted = 0;
  auto flush = [&run]() {
    if (!run.empty()) WriteText(run);
    run.clear();
  };
  for (char c : record) {
    if (c == kHighlight) {
      flush();
      highlight = !highlight;
      if (!input) SetColour(highlight ? "h" : "n");
    } else if (c == kInput) {
      flush();
      input = !input;
      SetColour(input ? "u" : "n");
    } else if (c == kReverse) {
      flush();
      reverse = !reverse;
      SetColour(reverse ? "r" : "n");
    } else if (counted < kShownColumns) {
      run.push_back(c);
      ++counted;
    }
  }
  flush();
}

void HelpViewer::ShowPage(int start) {
  for (int r = 1; r <= visible_; ++r) ShowLine(r, start + r - 1);
  next_ = start + visible_;
}

// The topic goes into a command line: anything the command interpreter would read as more
// than a name is refused, so a menu name can never run a command of its own.
bool SafeForCommandLine(const std::string& topic) {
  if (topic.empty()) return false;
  for (char c : topic) {
    unsigned char u = static_cast<unsigned char>(c);
    bool ok = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
              u == '_' || u == '-' || u == '.' || u == '\\' || u >= 128;
    if (!ok) return false;
  }
  return true;
}

void HelpViewer::Run() {
  if (TrimRight(CurrentSession().RunMode) == "WIN") {
    if (SafeForCommandLine(topic_)) {
      GetOs().RunCommandInterpreter(" /C UOPEN AJUDA\\" + topic_ + ".HTM");
    }
    return;
  }
  recordLength_ = ScreenColumns() > 0 ? ScreenColumns() : 80;
  OpenResult why = OpenResult::kOk;
  file_ = GetOs().OpenFile("AJUDA\\" + topic_ + ".HLP", false, true, Sharing::kShared, &why);
  if (file_) {
    int64_t size = file_->Size();
    if (size > 0) {
      int64_t lines = (size + recordLength_ / 2) / recordLength_;
      lineCount_ = lines > 1000000 ? 1000000 : static_cast<int>(lines);
    }
  }
  bottom_ = ScreenRows() - 3;
  right_ = ScreenColumns();
  visible_ = bottom_ - top_ - 1;
  SetColour("+h");
  const int16_t depthBefore = CurrentWindow().depth;
  PushWindow(static_cast<int16_t>(top_), static_cast<int16_t>(left_), static_cast<int16_t>(bottom_),
             static_cast<int16_t>(right_));
  // On a screen too small for the viewer the window is refused: nothing to show.
  if (CurrentWindow().depth <= depthBefore || visible_ < 1) {
    if (CurrentWindow().depth > depthBefore) PopWindow();
    SetColour("-");
    return;
  }
  DrawFrame(2);
  SetColour("n");
  ShowPage(1);

  for (;;) {
    int16_t key = 0;
    WaitKey(key);
    const int first = next_ - visible_;
    switch (key) {
      case key::kF1:
        if (topic_ != kGeneralTopic) ShowHelp(kGeneralTopic);
        break;
      case key::kDown:
        if (next_ <= lineCount_) {
          Scroll(1);
          ShowLine(visible_, next_);
          ++next_;
        }
        break;
      case key::kUp:
        if (first > 1) {
          --next_;
          Scroll(-1);
          ShowLine(1, next_ - visible_);
        }
        break;
      case key::kPgDn:
        if (next_ <= lineCount_) {
          Scroll(visible_);
          int start = next_;
          if (start > lineCount_ - visible_ + 1) start = lineCount_ - visible_ + 1;
          if (start < 1) start = 1;
          ShowPage(start);
        }
        break;
      case key::kPgUp:
        if (first > 1) {
          Scroll(visible_);
          int start = first - (visible_ - 1);
          ShowPage(start < 1 ? 1 : start);
        }
        break;
      case key::kHome:
        if (first > 1) {
          Scroll(visible_);
          ShowPage(1);
        }
        break;
      case key::kEnd:
        if (next_ <= lineCount_) {
          Scroll(visible_);
          int start = lineCount_ - visible_ + 1;
          ShowPage(start < 1 ? 1 : start);
        }
        break;
      case key::kEsc:
        file_.reset();
        PopWindow();
        SetColour("-");
        return;
      default:
        break;
    }
  }
}

}  // namespace

void ShowHelp(const std::string& topic) {
  HelpViewer viewer(topic);
  viewer.Run();
}

}  // namespace kap
