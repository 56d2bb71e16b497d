// Loader of the program's form file into the form table.
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "app/owner_program.h"
#include "platform/os.h"
#include "session/session.h"

namespace kap {

namespace {

// Bounds that keep a damaged file from sizing the table into gigabytes.
constexpr int kMaxForms = 1000;
constexpr int kMaxFieldsPerForm = 1000;
constexpr long kMaxFieldSlots = 200000;
constexpr int kMaxLists = 1000;
constexpr int64_t kMaxFileSize = 16 * 1024 * 1024;
// Every field value is allocated at its width, so a file small enough to pass the caps above
// could still ask for gigabytes; no real set of screens comes near this total.
constexpr size_t kMaxFieldValueBytes = 16 * 1024 * 1024;

// Reads comma-delimited values the way the suite writes them: a value ends at a comma or at the
// end of a line; strings are bare (trimmed) or in double quotes; blank space and line ends
// before a value are passed over, so lines may break between any two values.
class ValueReader {
 public:
  explicit ValueReader(std::string text) : text_(std::move(text)) {}

  int line() const { return line_; }

  // Skips comment lines (first non-blank character an apostrophe) and blank lines at the start
  // of a group. False when nothing but blank space is left: the file ends between groups.
  bool StartGroup() {
    for (;;) {
      size_t end = LineEnd(pos_);
      size_t first = pos_;
      while (first < end && text_[first] == ' ') ++first;
      if (first < end && text_[first] == '\'') {
        MoveTo(end);
        SkipLineBreak();
        continue;
      }
      if (first == end) {
        if (end >= text_.size()) return false;
        MoveTo(end);
        SkipLineBreak();
        continue;
      }
      return true;
    }
  }

  // False at the end of the file (the group it was read for is incomplete).
  bool String(std::string& value) {
    if (!SkipToValue()) return false;
    value.clear();
    if (text_[pos_] == '"') {
      size_t close = pos_ + 1;
      while (close < text_.size() && text_[close] != '"' && text_[close] != '\n') ++close;
      value = text_.substr(pos_ + 1, close - pos_ - 1);
      if (!value.empty() && value.back() == '\r') value.pop_back();
      MoveTo(close < text_.size() && text_[close] == '"' ? close + 1 : close);
      // Whatever stands between the closing quote and the comma is dropped.
      while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\r' &&
             text_[pos_] != '\n') {
        ++pos_;
      }
    } else {
      size_t end = pos_;
      while (end < text_.size() && text_[end] != ',' && text_[end] != '\r' && text_[end] != '\n') {
        ++end;
      }
      value = text_.substr(pos_, end - pos_);
      while (!value.empty() && value.back() == ' ') value.pop_back();
      pos_ = end;
    }
    if (pos_ < text_.size() && text_[pos_] == ',') ++pos_;
    return true;
  }

  enum class Number { kOk, kEnd, kBad, kRange };
  Number Int16(int16_t& value) {
    std::string text;
    if (!String(text)) return Number::kEnd;
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
      value = 0;
      return Number::kOk;
    }
    const char* start = text.c_str() + first;
    char* stop = nullptr;
    errno = 0;
    long number = std::strtol(start, &stop, 10);
    if (stop == start || *stop != '\0') return Number::kBad;
    if (errno == ERANGE || number < INT16_MIN || number > INT16_MAX) return Number::kRange;
    value = static_cast<int16_t>(number);
    return Number::kOk;
  }

 private:
  size_t LineEnd(size_t from) const {
    size_t end = from;
    while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n') ++end;
    return end;
  }
  void MoveTo(size_t to) { pos_ = to; }
  void SkipLineBreak() {
    if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n') {
      ++pos_;
      ++line_;
    }
  }
  bool SkipToValue() {
    const int startLine = line_;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (c == '\n') {
        ++pos_;
        ++line_;
      } else {
        return true;
      }
    }
    line_ = startLine;  // an error at the end names the last line that held something
    return false;
  }

  std::string text_;
  size_t pos_ = 0;
  int line_ = 1;
};

using namespace form_file;

class Loader {
 public:
  Loader(ValueReader& in, FormFileError& error) : in_(in), error_(error) {}

  bool Run() {
    if (!in_.StartGroup()) return true;  // empty file: nothing to load
    int16_t formCount = 0, maxFields = 0;
    if (!Int(formCount) || !Int(maxFields)) return false;
    if (formCount < 0 || formCount > kMaxForms) return Fail(kTooMany);
    if (maxFields < 0 || maxFields > kMaxFieldsPerForm ||
        static_cast<long>(formCount) * maxFields > kMaxFieldSlots)
      return Fail(kTooMany);
    CreateForms(formCount, maxFields);

    for (int16_t i = 1; i <= formCount; ++i) {
      if (!in_.StartGroup()) return true;
      if (!Form(i, maxFields)) return false;
    }

    if (!in_.StartGroup()) return true;
    int16_t listCount = 0;
    if (!Int(listCount)) return false;
    if (listCount < 0 || listCount > kMaxLists) return Fail(kTooMany);
    CreateLists(listCount);
    for (int16_t c = 1; c <= listCount; ++c) {
      if (!in_.StartGroup()) return true;
      if (!List(c)) return false;
    }
    return true;
  }

 private:
  bool Form(int16_t i, int16_t maxFields) {
    std::string keys;
    int16_t fieldCount = 0, next = 0, window[4] = {};
    if (!Str(keys) || !Int(fieldCount) || !Int(next)) return false;
    for (int16_t& corner : window) {
      if (!Int(corner)) return false;
    }
    if (fieldCount < 0 || fieldCount > maxFields) return Fail(kTooMany);
    FormKeys(i) = keys;
    NextForm(i) = next;
    for (int16_t k = 0; k < 4; ++k) FormWindow(i, k + 1) = window[k];
    for (int16_t j = 1; j <= fieldCount; ++j) {
      int16_t attr[8] = {};
      std::string label, options;
      if (!Int(attr[0]) || !Int(attr[1]) || !Str(label)) return false;
      for (int k = 2; k < 8; ++k) {
        if (!Int(attr[k])) return false;
      }
      if (!Str(options)) return false;
      if (attr[2] < 0) return Fail(kOutOfRange);
      valueBytes_ += static_cast<size_t>(attr[2]);
      if (valueBytes_ > kMaxFieldValueBytes) return Fail(kTooLarge);
      for (int16_t k = 0; k < field_attr::kCount; ++k) FieldAttr(i, k, j) = attr[k];
      FieldLabel(i, j) = Translate(label);
      FieldOptions(i, j) = options.empty() ? options : Translate(options);
      FieldValue(i, j) = std::string(static_cast<size_t>(attr[2]), ' ');
      // Counted as it is read, so a table cut short never names fields it lacks.
      FieldCount(i) = j;
    }
    return true;
  }

  bool List(int16_t c) {
    int16_t attr[8] = {};
    std::string title;
    for (int k = 0; k < 7; ++k) {
      if (!Int(attr[k])) return false;
    }
    if (!Str(title) || !Int(attr[7])) return false;
    for (int16_t k = 0; k < list_attr::kCount; ++k) ListAttr(c, k) = attr[k];
    ListTitle(c) = Translate(title);
    return true;
  }

  bool Int(int16_t& value) {
    switch (in_.Int16(value)) {
      case ValueReader::Number::kOk:
        return true;
      case ValueReader::Number::kEnd:
        return Fail(kEndsInsideGroup);
      case ValueReader::Number::kBad:
        return Fail(kNumberExpected);
      case ValueReader::Number::kRange:
        return Fail(kOutOfRange);
    }
    return false;
  }
  bool Str(std::string& value) {
    if (in_.String(value)) return true;
    return Fail(kEndsInsideGroup);
  }
  bool Fail(const std::string& problem) {
    error_.line = in_.line();
    error_.problem = problem;
    return false;
  }

  ValueReader& in_;
  FormFileError& error_;
  size_t valueBytes_ = 0;
};

}  // namespace

std::string FormFileError::Text() const {
  std::string text = file;
  if (line > 0) text += ", " + Translate(form_file::kLine) + " " + std::to_string(line);
  return text + ": " + Translate(problem);
}

int16_t LoadFormFileFrom(const std::string& path, FormFileError& error) {
  error = FormFileError{};
  error.file = path;
  ResetFormTable();
  Os& os = GetOs();
  OpenResult result = OpenResult::kOk;
  std::unique_ptr<File> file = os.OpenFile(path, false, true, Sharing::kShared, &result);
  if (!file) {
    error.problem = form_file::kUnreadable;
    return -1;
  }
  int64_t size = file->Size();
  if (size > kMaxFileSize) {
    error.problem = form_file::kTooLarge;
    return -1;
  }
  std::string text;
  if (size > 0 && !file->ReadAt(0, static_cast<size_t>(size), &text)) {
    error.problem = form_file::kUnreadable;
    return -1;
  }
  file.reset();

  ValueReader reader(std::move(text));
  Loader loader(reader, error);
  if (!loader.Run()) return -1;
  return 0;
}

int16_t LoadFormFile(FormFileError& error) {
  const Session& session = CurrentSession();
  return LoadFormFileFrom(session.RootDir + "FORMS\\" + session.ProgramName + ".JPN", error);
}

}  // namespace kap
