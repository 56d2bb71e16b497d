// BrowseList: a framed, scrolling list of a data file's records, one text row per record,
// read lazily and kept in the per-terminal cache file "Browse.tmp" so that scrolling back
// never reads the data file again.
#include <algorithm>
#include <memory>

#include "data/data_files.h"
#include "formengine/form_driver.h"
#include "formengine/form_internal.h"
#include "formengine/screen.h"
#include "platform/bytes.h"
#include "platform/console.h"
#include "platform/os.h"
#include "session/session.h"

namespace kap {
namespace {

// Lists opened from lists with F4 nest on the call stack.
constexpr int kMaxNesting = 16;
constexpr size_t kHeaderSize = 10;  // previous, data position, length
constexpr size_t kMaxRowText = 32767;
// A cache handed over by another program is read up to this size.
constexpr int64_t kMaxCacheRead = 64 << 20;

struct BrowseState {
  int32_t choicePosition = 0;
  std::string choiceText;
  int nesting = 0;
};

BrowseState& Browse() {
  static BrowseState state;
  return state;
}

void PutLe(std::string& out, uint32_t value, int bytes) {
  out += LittleEndianBytes32(value).substr(0, static_cast<size_t>(bytes));
}

uint32_t GetLe(const std::string& in, size_t at, int bytes) {
  return bytes == 2 ? LittleEndian16(in, at) : LittleEndian32(in, at);
}

std::string CurrentKeyValue(int16_t fileNumber) {
  for (int entry = 1; entry <= kFileTableSize; ++entry) {
    if (FileTable(entry).FileNumber == fileNumber) return FileTable(entry).KeyValue;
  }
  return {};
}

struct Row {
  int32_t pos = 0;   // cache position, from 1
  int32_t prev = 0;  // cache position of the row before, 0 for the first
  int32_t data = 0;  // data-file position of the row's record
  std::string text;
};

class Browser {
 public:
  Browser(int16_t list, FormHooks& hooks) : list_(list), hooks_(hooks) {
    file_ = ListAttr(list, list_attr::kFile);
    keyNumber_ = ListAttr(list, list_attr::kKey);
    top_ = ListAttr(list, list_attr::kTop);
    left_ = ListAttr(list, list_attr::kLeft);
    bottom_ = ListAttr(list, list_attr::kBottom);
    right_ = ListAttr(list, list_attr::kRight);
    rows_ = bottom_ - top_ - 1;
    width_ = right_ - left_ - 1;
  }

  void Run(int16_t& result);

 private:
  // --- cache file ---
  bool OpenCache();
  void CloseCache();
  void Append(int32_t dataPosition, const std::string& text);
  bool Fetch(int32_t pos, Row* row);
  static int32_t After(const Row& row) {
    return row.pos + static_cast<int32_t>(kHeaderSize + row.text.size());
  }
  bool AtCacheEnd(int32_t pos) const { return pos - 1 >= cacheSize_; }

  // --- data file ---
  void ReadFromData();
  bool PastRange();
  bool EscPressed();

  // --- moving and drawing ---
  void SetFlags();
  bool MoveForward();
  bool MoveBack();
  void CurrentFromPage();
  void DisplayPage(int32_t start);
  void WriteRow(int windowRow, const std::string& text);
  void DrawTitle();
  void Choose(int16_t& result);

  // --- the run's steps ---
  bool OpenWindow();
  void CloseWindow();
  // What a key does; true when the list is to be left (result set, or openSecond_).
  bool HandleKey(int16_t key, int16_t& result);
  void ScrollSideways(int columns);
  void LineUp();
  void LineDown();
  void PageUp();
  void PageDown();

  int16_t list_;
  FormHooks& hooks_;
  int16_t file_ = 0, keyNumber_ = 0;
  int top_ = 0, left_ = 0, bottom_ = 0, right_ = 0;
  int rows_ = 0, width_ = 0;

  std::string cachePath_;
  std::unique_ptr<File> cache_;
  // The cache file's bytes, kept alongside so that rows are read back without a system call.
  std::string mirror_;
  int64_t cacheSize_ = 0;
  int32_t lastAppended_ = 0;

  std::string fromKey_, toKey_, bound_;
  bool started_ = false;
  bool noMore_ = true;

  bool haveRow_ = false;
  Row current_;
  int cursorRow_ = 1;
  int32_t pageStart_ = 1;
  int32_t pageEnd_ = 0;
  int shown_ = 0;
  int offset_ = 1;
  int maxOverflow_ = 0;
  bool firstReached_ = true;
  bool endReached_ = true;

  int16_t secondList_ = 0;
  bool openSecond_ = false;
};

bool Browser::OpenCache() {
  cachePath_ = CurrentSession().WorkDir + "Browse.tmp";
  OpenResult why = OpenResult::kOk;
  cache_ = GetOs().OpenFile(cachePath_, true, false, Sharing::kShared, &why);
  if (!cache_) return false;
  mirror_.clear();
  if (file_ > 0) {
    // Truncating an empty file is not free: the file system may then flush it on close.
    if (cache_->Size() != 0) cache_->Truncate(0);
  } else {
    int64_t size = std::min<int64_t>(cache_->Size(), kMaxCacheRead);
    if (size > 0 && !cache_->ReadAt(0, static_cast<size_t>(size), &mirror_)) mirror_.clear();
  }
  cacheSize_ = static_cast<int64_t>(mirror_.size());
  return true;
}

void Browser::CloseCache() {
  if (!cache_) return;
  cache_.reset();
  mirror_.clear();
  GetOs().RemoveFile(cachePath_);
}

void Browser::Append(int32_t dataPosition, const std::string& text) {
  std::string row = text.substr(0, kMaxRowText);
  std::string record;
  PutLe(record, static_cast<uint32_t>(lastAppended_), 4);
  PutLe(record, static_cast<uint32_t>(dataPosition), 4);
  PutLe(record, static_cast<uint32_t>(row.size()), 2);
  record += row;
  if (cacheSize_ + static_cast<int64_t>(record.size()) >= INT32_MAX ||
      !cache_->WriteAt(cacheSize_, record)) {
    noMore_ = true;  // the rows cached so far remain the list
    return;
  }
  lastAppended_ = static_cast<int32_t>(cacheSize_ + 1);
  mirror_ += record;
  cacheSize_ = static_cast<int64_t>(mirror_.size());
}

// Reads the row at `pos`, reading the data file first when the cache ends there. A record
// that does not fit the file (a damaged cache handed over by another program) ends the list.
bool Browser::Fetch(int32_t pos, Row* row) {
  if (pos < 1 || !cache_) return false;
  if (AtCacheEnd(pos) && !noMore_) ReadFromData();
  if (AtCacheEnd(pos)) return false;
  const size_t at = static_cast<size_t>(pos - 1);
  if (at + kHeaderSize > mirror_.size()) return false;
  size_t length = GetLe(mirror_, at + 8, 2);
  if (at + kHeaderSize + length > mirror_.size()) return false;
  row->pos = pos;
  row->prev = static_cast<int32_t>(GetLe(mirror_, at, 4));
  // The previous row always lies before this one; anything else would let Up run in circles.
  if (row->prev < 0 || row->prev >= pos) row->prev = 0;
  row->data = static_cast<int32_t>(GetLe(mirror_, at + 4, 4));
  row->text.assign(mirror_, at + kHeaderSize, length);
  return true;
}

bool Browser::PastRange() {
  if (bound_.empty()) return false;
  std::string key = CurrentKeyValue(file_).substr(0, bound_.size());
  return KeyImage(key, file_) > bound_;
}

bool Browser::EscPressed() {
  int16_t key = 0, buttons = 0, row = 0, column = 0;
  ReadKey(key, buttons, row, column);
  return key == key::kEsc;
}

// Appends the next row of the data file to the cache, passing over records without a text.
void Browser::ReadFromData() {
  int16_t status = 0;
  if (!started_) {
    started_ = true;
    FindRecord(file_, keyNumber_, fromKey_, find_mode::kGreaterOrEqual, status);
    bound_ = toKey_.empty() ? std::string() : KeyImage(toKey_, file_);
    if (status != 0 || PastRange()) {
      noMore_ = true;
      return;
    }
  }
  for (;;) {
    std::string text = TrimRight(hooks_.ListRowText(list_));
    bool appended = false;
    if (!text.empty()) {
      Append(RecordPosition(file_, 0), text);
      appended = !noMore_;
    }
    if (noMore_) return;
    SkipRecords(file_, 1, status);
    noMore_ = status != 0 || PastRange() || EscPressed();
    if (appended || noMore_) return;
  }
}

void Browser::SetFlags() {
  firstReached_ = current_.prev == 0;
  endReached_ = AtCacheEnd(After(current_)) && noMore_;
}

bool Browser::MoveForward() {
  if (!haveRow_ || endReached_) return false;
  Row next;
  if (!Fetch(After(current_), &next)) {
    endReached_ = true;
    return false;
  }
  current_ = std::move(next);
  SetFlags();
  return true;
}

bool Browser::MoveBack() {
  if (!haveRow_ || firstReached_) return false;
  Row previous;
  if (!Fetch(current_.prev, &previous)) return false;
  current_ = std::move(previous);
  SetFlags();
  return true;
}

// Makes the row under the cursor the current one (every row of the page is cached).
void Browser::CurrentFromPage() {
  Row row;
  haveRow_ = Fetch(pageStart_, &row);
  for (int i = 1; haveRow_ && i < cursorRow_; ++i) {
    Row next;
    if (!Fetch(After(row), &next)) break;
    row = std::move(next);
  }
  if (haveRow_) {
    current_ = std::move(row);
    SetFlags();
  }
}

void Browser::WriteRow(int windowRow, const std::string& text) {
  std::string shown;
  size_t from = static_cast<size_t>(offset_ - 1);
  if (from < text.size()) shown = text.substr(from, static_cast<size_t>(width_));
  shown.resize(static_cast<size_t>(width_), ' ');
  LocateInWindow(static_cast<int16_t>(windowRow), 1);
  WriteText(shown);
}

void Browser::DisplayPage(int32_t start) {
  pageStart_ = start;
  maxOverflow_ = 0;
  shown_ = 0;
  int32_t pos = start;
  Row row;
  while (shown_ < rows_ && Fetch(pos, &row)) {
    ++shown_;
    WriteRow(shown_, row.text);
    maxOverflow_ = std::max(maxOverflow_, static_cast<int>(row.text.size()) - width_);
    pos = After(row);
  }
  if (shown_ < rows_) {
    for (int i = shown_ + 1; i <= rows_; ++i) WriteRow(i, std::string());
    pageEnd_ = 0;
    if (cursorRow_ > shown_) cursorRow_ = std::max(shown_, 1);
  } else {
    pageEnd_ = AtCacheEnd(pos) && noMore_ ? 0 : pos;
  }
}

void Browser::DrawTitle() {
  const std::string& title = ListTitle(list_);
  std::string line;
  size_t from = static_cast<size_t>(offset_ - 1);
  if (from < title.size()) line = title.substr(from, static_cast<size_t>(width_));
  line.resize(static_cast<size_t>(width_), ' ');
  for (char& c : line) {
    if (c == ' ') {
      c = '\xCD';
    } else if (c == '_') {
      c = ' ';
    }
  }
  bool beyond = maxOverflow_ >= offset_ || static_cast<int>(title.size()) - (offset_ - 1) > width_;
  SetColour("n");
  GetConsole().SetCursor(top_, left_);
  WriteText(std::string(1, offset_ == 1 ? '\xC9' : static_cast<char>(kMarkerLeft)));
  WriteText(line);
  WriteText(std::string(1, beyond ? static_cast<char>(kMarkerRight) : '\xBB'));
  SetColour("h");
}

void Browser::Choose(int16_t& result) {
  if (file_ > 0) {
    result = -1;
    if (haveRow_ && current_.data != 0) {
      result = static_cast<int16_t>(RecordPosition(file_, current_.data));
    }
    return;
  }
  Browse().choicePosition = haveRow_ ? current_.data : 0;
  Browse().choiceText = haveRow_ ? current_.text : std::string();
  result = 0;
}

// A window refused by PushWindow (outside the screen) or without an inside shows nothing;
// popping it would close the enclosing window instead. False when nothing was opened.
bool Browser::OpenWindow() {
  int16_t status = 0;
  if (file_ > 0) SetLockMode(file_, "+d", status);
  SetColour("+n");
  int16_t depthBefore = CurrentWindow().depth;
  PushWindow(static_cast<int16_t>(top_), static_cast<int16_t>(left_), static_cast<int16_t>(bottom_),
             static_cast<int16_t>(right_));
  const bool windowOpen = CurrentWindow().depth > depthBefore;
  if (!windowOpen || rows_ < 1 || width_ < 1) {
    if (windowOpen) PopWindow();
    SetColour("-");
    if (file_ > 0) SetLockMode(file_, "-", status);
    return false;
  }
  DrawFrame(kFrameDouble);
  SetColour("h");
  return true;
}

void Browser::CloseWindow() {
  SetKeyList("-", "");
  PopWindow();
  SetColour("-");
  int16_t status = 0;
  if (file_ > 0) SetLockMode(file_, "-", status);
}

void Browser::ScrollSideways(int columns) {
  offset_ += columns;
  DisplayPage(pageStart_);
  DrawTitle();
}

void Browser::LineUp() {
  if (!MoveBack()) return;
  if (cursorRow_ > 1) {
    --cursorRow_;
  } else {
    DisplayPage(current_.pos);
    DrawTitle();
  }
}

void Browser::LineDown() {
  Row first;
  const bool pageHasFirst = Fetch(pageStart_, &first);
  if (!MoveForward()) return;
  if (cursorRow_ < rows_) {
    ++cursorRow_;
  } else if (pageHasFirst) {
    DisplayPage(After(first));
    DrawTitle();
  }
}

void Browser::PageUp() {
  Row start;
  if (!haveRow_ || !Fetch(pageStart_, &start) || start.prev == 0) return;
  int moved = 0;
  while (moved < rows_ && start.prev != 0) {
    Row previous;
    if (!Fetch(start.prev, &previous)) break;
    start = std::move(previous);
    ++moved;
  }
  if (moved < rows_) cursorRow_ = std::max(1, cursorRow_ - (rows_ - moved));
  DisplayPage(start.pos);
  DrawTitle();
  CurrentFromPage();
}

void Browser::PageDown() {
  Row next;
  if (!haveRow_ || pageEnd_ == 0 || !Fetch(pageEnd_, &next)) return;
  DisplayPage(next.pos);
  DrawTitle();
  CurrentFromPage();
}

bool Browser::HandleKey(int16_t key, int16_t& result) {
  // Sideways by eight columns, as far as the widest row or the title reaches.
  constexpr int kSidewaysStep = 8;
  switch (key) {
    case key::kLeft:
      if (offset_ > 1) ScrollSideways(-kSidewaysStep);
      return false;
    case key::kRight:
      if (offset_ <= maxOverflow_) ScrollSideways(kSidewaysStep);
      return false;
    case key::kUp:
      LineUp();
      return false;
    case key::kDown:
      LineDown();
      return false;
    case key::kPgUp:
      PageUp();
      return false;
    case key::kPgDn:
      PageDown();
      return false;
    case key::kEnter:
      Choose(result);
      return true;
    case key::kF4:
      if (secondList_ != 0) {
        openSecond_ = true;
        return true;
      }
      [[fallthrough]];
    default:
      result = -1;
      return true;
  }
}

void Browser::Run(int16_t& result) {
  result = -1;
  int16_t searchForm = ListAttr(list_, list_attr::kSearchForm);
  if (searchForm != 0) {
    int16_t pageFlag = 0, pageFlag2 = 0, key = 0;
    RunForm(searchForm, pageFlag, pageFlag2, key);
    if (key == key::kEsc) return;
  }
  result = hooks_.ListKeyRange(list_, fromKey_, toKey_);
  if (result != 0) return;

  if (!OpenWindow()) {
    result = -1;
    return;
  }
  secondList_ = ListAttr(list_, list_attr::kSecondList);
  SetKeyList("+ea", KeyList({key::kEnter, key::kEsc, key::kUp, key::kDown, key::kPgUp, key::kPgDn,
                             key::kLeft, key::kRight}));
  if (secondList_ != 0) SetKeyList("a", KeyList({key::kF4}));

  noMore_ = file_ == 0;
  if (!OpenCache()) noMore_ = true;
  offset_ = 1;
  cursorRow_ = 1;
  DisplayPage(1);
  DrawTitle();
  CurrentFromPage();

  for (;;) {
    int16_t key = 0;
    if (haveRow_) {
      SetColour("u");
      WriteRow(cursorRow_, current_.text);
    }
    WaitKey(key);
    if (haveRow_) {
      SetColour("h");
      WriteRow(cursorRow_, current_.text);
    }
    if (HandleKey(key, result)) break;
  }

  CloseCache();
  if (openSecond_) {
    BrowseList(secondList_, result);
    if (result == 0) {
      int16_t chosenList = secondList_;
      int16_t field = 0;
      hooks_.ListChosen(chosenList, 0, field);
    }
  }
  CloseWindow();
}

}  // namespace

namespace forms {
void ResetBrowseState() { Browse() = BrowseState{}; }
}  // namespace forms

int32_t& ListChoicePosition() { return Browse().choicePosition; }
std::string& ListChoiceText() { return Browse().choiceText; }

void BrowseList(int16_t list, int16_t& result) {
  // Lists open lists (F4 on a list, F4 in a list's search form) on the call stack: a form table
  // whose lists lead back to themselves must not be able to exhaust it.
  if (Browse().nesting >= kMaxNesting) {
    Beep();
    result = -1;
    return;
  }
  ++Browse().nesting;
  Browser browser(list, forms::Hooks());
  browser.Run(result);
  --Browse().nesting;
}

}  // namespace kap
