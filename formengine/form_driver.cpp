// RunForm: drives one form of the form table field by field through the field editor and
// the program's hooks.
#include "formengine/form_driver.h"

#include <cstdlib>

#include "formengine/form_internal.h"
#include "formengine/screen.h"
#include "platform/text.h"
#include "session/session.h"

namespace kap {
namespace {

// Continuation forms and lists opened from forms nest on the call stack; a form table whose
// NextForm links run in a circle must not be able to exhaust it.
constexpr int kMaxNesting = 64;

struct DriverState {
  FormHooks* hooks = nullptr;
  int16_t resumeForm = 0;
  std::string currentText;
  int16_t currentForm = 0;
  int16_t currentField = 0;
  int nesting = 0;
};

DriverState& Driver() {
  static DriverState state;
  return state;
}

bool IsDisplayOnly(int16_t form, int16_t field) {
  return (FieldAttr(form, field_attr::kFlags, field) & field_flag::kDisplayOnly) != 0;
}

// A field count larger than the table's field slots stops at the last slot.
int FieldLimit(int16_t form) {
  int count = FieldCount(form);
  return count < FormTable().MaxFields ? count : FormTable().MaxFields;
}

// Lowest and highest field number that is not display only; first > last when there is none.
void EditableRange(int16_t form, int16_t& first, int16_t& last) {
  first = 1;
  last = 0;
  bool found = false;
  for (int j = 1; j <= FieldLimit(form); ++j) {
    if (IsDisplayOnly(form, static_cast<int16_t>(j))) continue;
    if (!found) first = static_cast<int16_t>(j);
    last = static_cast<int16_t>(j);
    found = true;
  }
  if (!found) {
    first = 1;
    last = 0;
  }
}

// Keys with which a continuation form's return makes the enclosing form leave too.
bool EndsEnclosingForm(int16_t key) {
  switch (key) {
    case key::kPgUp:
    case key::kPgDn:
    case key::kEnd:
    case key::kLeaveForm:
    case key::kEnter:
    case key::kDown:
    case key::kUp:
      return true;
    default:
      return false;
  }
}

bool IsBlank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

// The editable field under a mouse click, 0 when none. Coordinates are taken relative to the
// form's own window, or to the window the form is drawn into when it has none.
int16_t ClickTarget(int16_t form, int16_t key) {
  int click = -static_cast<int>(key);
  int screenRow = click % 100;
  int screenColumn = click / 100;
  int top = FormWindow(form, form_window::kTop);
  int left = FormWindow(form, form_window::kLeft);
  if (top == 0) {
    const CurrentWindowState& w = CurrentWindow();
    top = w.depth > 0 ? w.rect.top : 0;
    left = w.depth > 0 ? w.rect.left : 0;
  }
  int row = screenRow - top;
  int column = screenColumn - left;
  for (int j = 1; j <= FieldLimit(form); ++j) {
    int16_t f = static_cast<int16_t>(j);
    if (IsDisplayOnly(form, f)) continue;
    int fieldRow = FieldAttr(form, field_attr::kRow, f);
    int labelColumn = FieldAttr(form, field_attr::kLabelColumn, f);
    int length = FieldAttr(form, field_attr::kLength, f);
    int wrap = FieldAttr(form, field_attr::kWrap, f);
    int extra = FieldAttr(form, field_attr::kExtraWidth, f);
    int lines = 1;
    int lineWidth = length;
    if (wrap > 0) {
      lines = length / wrap;
      lineWidth = wrap;
    }
    int labelLength = static_cast<int>(FieldLabel(form, f).size());
    if (fieldRow <= row && row < fieldRow + lines && labelColumn <= column &&
        column < labelColumn + labelLength + lineWidth + extra) {
      return f;
    }
  }
  return 0;
}

class NestingGuard {
 public:
  NestingGuard() { ++Driver().nesting; }
  ~NestingGuard() { --Driver().nesting; }
  bool TooDeep() const { return Driver().nesting > kMaxNesting; }
};

// Runs the continuation form `next` of a page; true when the page must leave as well.
bool RunContinuation(int16_t next, int16_t& pageUpLeaves, int16_t& pageDownLeaves, int16_t& key) {
  if (Driver().nesting >= kMaxNesting) return false;
  int16_t nested = static_cast<int16_t>(-next);
  RunForm(nested, pageUpLeaves, pageDownLeaves, key);
  return EndsEnclosingForm(key);
}

}  // namespace

namespace forms {

FormHooks& Hooks() {
  static NoFormHooks none;
  FormHooks* h = Driver().hooks;
  return h ? *h : none;
}

}  // namespace forms

void SetFormHooks(FormHooks* hooks) { Driver().hooks = hooks; }
FormHooks* CurrentFormHooks() { return Driver().hooks; }

int16_t& ResumeForm() { return Driver().resumeForm; }
std::string& CurrentText() { return Driver().currentText; }
int16_t& CurrentForm() { return Driver().currentForm; }
int16_t& CurrentField() { return Driver().currentField; }

void ResetFormsState() {
  Driver() = DriverState{};
  ResetFormTable();
  forms::ResetBrowseState();
}

namespace {

// Where a field stands and how it is edited, read from the form table once per visit.
struct FieldPlace {
  int16_t row = 0;
  int16_t valueColumn = 0;
  int16_t length = 0;
  int16_t wrap = 0;
  int16_t extra = 0;
  int16_t flags = 0;
  bool displayOnly = false;
  bool hidden = false;
  // Edited from blanks; left blank, the stored value stands.
  bool startsBlank = false;
};

FieldPlace PlaceOf(int16_t form, int16_t field) {
  FieldPlace p;
  p.row = FieldAttr(form, field_attr::kRow, field);
  const int16_t labelColumn = FieldAttr(form, field_attr::kLabelColumn, field);
  p.valueColumn =
      static_cast<int16_t>(labelColumn + static_cast<int>(FieldLabel(form, field).size()));
  const int16_t length = FieldAttr(form, field_attr::kLength, field);
  p.length = length > 0 ? length : 0;
  p.wrap = FieldAttr(form, field_attr::kWrap, field);
  const int16_t extra = FieldAttr(form, field_attr::kExtraWidth, field);
  p.extra = extra > 0 ? extra : 0;
  p.flags = FieldAttr(form, field_attr::kFlags, field);
  p.displayOnly = (p.flags & field_flag::kDisplayOnly) != 0;
  p.hidden = (p.flags & field_flag::kHidden) != 0;
  p.startsBlank = (p.flags & (field_flag::kStartsBlank | field_flag::kHidden)) != 0;
  return p;
}

// One RunForm over one form: entering the page, editing the current field, moving after the
// key that ended it, and leaving. The caller's form, page flags and key are updated in place.
class FormRun {
 public:
  FormRun(int16_t& form, int16_t& pageUpLeaves, int16_t& pageDownLeaves, int16_t& key)
      : hooks_(forms::Hooks()),
        form_(form),
        pageUpLeaves_(pageUpLeaves),
        pageDownLeaves_(pageDownLeaves),
        key_(key),
        continuation_(form < 0) {
    if (continuation_) form_ = static_cast<int16_t>(std::abs(static_cast<int>(form_)));
  }

  void Run() {
    EnterPage();
    for (;;) {
      while (first_ <= current_ && current_ <= last_) {
        EditCurrentField();
        if (MoveAfterKey()) break;
      }
      if (!KeptByCheckLeave()) break;
    }
    LeavePage();
  }

 private:
  // Opens the form's window, shows it and, when the operator left this chain of pages with
  // PgUp or PgDn, goes straight back to that page.
  void EnterPage() {
    OpenWindow();
    hooks_.ShowForm(form_);
    EditableRange(form_, first_, last_);
    current_ = first_;
    if (first_ <= last_ && ResumeChain()) current_ = static_cast<int16_t>(last_ + 1);
  }

  // A window that PushWindow refused (outside the screen) must not be popped at the end, or
  // the enclosing window would close instead.
  void OpenWindow() {
    if (FormWindow(form_, form_window::kTop) == 0) return;
    int16_t depthBefore = CurrentWindow().depth;
    SetColour("+n");
    PushWindow(FormWindow(form_, form_window::kTop), FormWindow(form_, form_window::kLeft),
               FormWindow(form_, form_window::kBottom), FormWindow(form_, form_window::kRight));
    windowOpen_ = CurrentWindow().depth > depthBefore;
    if (windowOpen_) DrawFrame(kFrameDouble);
    SetColour("-");
  }

  // True when the page the chain resumes on was left with a key that leaves this page too.
  bool ResumeChain() {
    bool met = false;
    int16_t f = form_;
    for (int steps = 0; steps <= FormTable().FormCount + 1; ++steps) {
      if (f == ResumeForm()) {
        met = true;
        break;
      }
      if (NextForm(f) == 0) break;
      f = NextForm(f);
    }
    if (!met) ResumeForm() = 0;
    if (ResumeForm() > 0 && ResumeForm() != form_ && NextForm(form_) != 0)
      return RunContinuation(NextForm(form_), pageUpLeaves_, pageDownLeaves_, key_);
    ResumeForm() = 0;
    return false;
  }

  // Edits the current field until the hooks accept what was typed (or the field is passed
  // over); key_ holds the key that ended it.
  void EditCurrentField() {
    SetKeyList("+ea", FormKeys(form_) + "," + KeyList({key::kF1}));
    const FieldPlace place = PlaceOf(form_, current_);
    int16_t listNumber = FieldAttr(form_, field_attr::kList, current_);
    std::string text = place.startsBlank ? std::string(static_cast<size_t>(place.length), ' ')
                                         : PadOrCut(FieldValue(form_, current_),
                                                    static_cast<size_t>(place.length));
    if (place.hidden) SetKeyList("h", "");
    if (place.extra != 0 && !place.displayOnly) {
      LocateInWindow(place.row, static_cast<int16_t>(place.valueColumn + place.length));
      WriteText(std::string(static_cast<size_t>(place.extra), ' '));
    }
    // A display-only field is passed over with the key unchanged.
    if (!place.displayOnly) {
      bool rejected;
      do {
        rejected = EditOnce(place, text, listNumber);
        EditableRange(form_, first_, last_);  // a hook may have changed the flags
        if (rejected) Beep();
      } while (rejected);
    }
    if (place.hidden) SetKeyList("v", "");
    SetKeyList("-", "");
  }

  // One pass of the field editor and the handling of its key; true when the hooks refused
  // the text and the operator edits again.
  bool EditOnce(const FieldPlace& place, std::string& text, int16_t& listNumber) {
    SetFieldOptions(FieldOptions(form_, current_));
    int16_t position = 1;
    if ((place.flags & field_flag::kCursorAtEnd) != 0)
      position = static_cast<int16_t>(TrimRight(text).size() + 1);
    int16_t editRow = place.row;
    int16_t editColumn = place.valueColumn;
    EditField(editRow, editColumn, place.wrap, text, position, key_);
    CurrentText() = text;
    CurrentForm() = form_;
    CurrentField() = current_;

    if (key_ == key::kF1) {
      const std::string topic = TrimRight(CurrentSession().MenuName);
      if (!topic.empty()) ShowHelp(topic);
      key_ = 0;
      return false;
    }
    if (key_ == key::kF4) {
      key_ = 0;
      ChooseFromList(listNumber);
      return false;
    }
    if (place.extra != 0) {
      // A hidden field keeps its echo: the typed secret is never written out.
      LocateInWindow(place.row, place.valueColumn);
      std::string shown = place.hidden ? std::string(text.size(), 'X') : text;
      WriteText(shown + std::string(static_cast<size_t>(place.extra), ' '));
    }
    if (key_ == key::kEsc) {
      hooks_.ShowField(form_, current_);
      return false;
    }
    if (place.startsBlank && IsBlank(text))
      text = PadOrCut(FieldValue(form_, current_), text.size());
    return hooks_.CheckField(form_, text, current_, key_) != 0;
  }

  // F4: the field's browse list, again as long as the hook asks for it (list set to 0); a
  // choice moves on to the next field unless the hook moved elsewhere.
  void ChooseFromList(int16_t& listNumber) {
    while (listNumber > 0) {
      int16_t result = 0;
      BrowseList(listNumber, result);
      if (result != 0) return;
      const int16_t rememberedField = current_;
      const int16_t rememberedList = listNumber;
      hooks_.ListChosen(listNumber, form_, current_);
      if (listNumber == 0) {
        current_ = rememberedField;
        listNumber = rememberedList;
        continue;
      }
      if (current_ == rememberedField) {
        key_ = key::kDown;
        if (current_ == FieldCount(form_) && NextForm(form_) == 0) key_ = key::kEnter;
      } else if (current_ < FieldCount(form_) && IsDisplayOnly(form_, current_)) {
        key_ = key::kDown;
      }
      return;
    }
  }

  // Moves the current field after the key that ended it; true when the form is to be left.
  bool MoveAfterKey() {
    switch (key_) {
      case key::kPgUp:
        return PageKey(current_ > first_ || pageUpLeaves_ == 0, first_);
      case key::kPgDn:
        return PageKey(current_ < last_ || pageDownLeaves_ == 0, last_);
      case key::kEnd:
      case key::kLeaveForm:
        return true;
      case key::kEsc:
        if (current_ > first_) {
          current_ = first_;
          return false;
        }
        return true;
      case key::kEnter:
      case key::kDown:
      case key::kF2:
        if ((current_ == last_ || key_ == key::kF2) && NextForm(form_) > 0)
          return RunContinuation(NextForm(form_), pageUpLeaves_, pageDownLeaves_, key_);
        if (key_ == key::kEnter) {
          ++current_;  // past the last editable field this leaves the form
        } else if (key_ == key::kDown && current_ != last_) {
          ++current_;
        }
        return false;
      case key::kUp:
        if (current_ > first_) {
          --current_;
          return false;
        }
        if (continuation_) {
          key_ = key::kEsc;
          return true;
        }
        return false;
      case 0:
        return false;
      default:
        if (key_ < 0) {
          int16_t target = ClickTarget(form_, key_);
          if (target != 0) current_ = target;
          return false;
        }
        return true;
    }
  }

  // PgUp or PgDn: moves to `edge` while `stays`, else leaves and remembers this page.
  bool PageKey(bool stays, int16_t edge) {
    if (stays) {
      current_ = edge;
      ResumeForm() = 0;
      return false;
    }
    ResumeForm() = form_;
    return true;
  }

  // True when CheckLeave refuses and there is a field to bring the operator back to. With no
  // editable field there is nowhere to keep them: they leave as with Esc, so that the caller
  // never takes a refused form for an accepted one (and calls it again, and again).
  bool KeptByCheckLeave() {
    if (hooks_.CheckLeave(form_, key_) == 0) return false;
    EditableRange(form_, first_, last_);
    if (first_ > last_) {
      key_ = key::kEsc;
      return false;
    }
    current_ = first_;
    return true;
  }

  void LeavePage() {
    if (windowOpen_) PopWindow();
    CurrentText().clear();
    CurrentForm() = 0;
    CurrentField() = 0;
  }

  FormHooks& hooks_;
  int16_t& form_;
  int16_t& pageUpLeaves_;
  int16_t& pageDownLeaves_;
  int16_t& key_;
  const bool continuation_;
  bool windowOpen_ = false;
  int16_t first_ = 1;
  int16_t last_ = 0;
  int16_t current_ = 1;
};

}  // namespace

void RunForm(int16_t& form, int16_t& pageUpLeaves, int16_t& pageDownLeaves, int16_t& key) {
  NestingGuard guard;
  FormRun(form, pageUpLeaves, pageDownLeaves, key).Run();
}

}  // namespace kap
