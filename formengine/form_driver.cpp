// RunForm: drives one form of the form table field by field through the field editor and
// the program's hooks.
#include "formengine/form_driver.h"

#include <cstdlib>

#include "formengine/form_internal.h"
#include "formengine/screen.h"
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

bool IsDisplayOnly(int16_t form, int16_t field) { return (FieldAttr(form, 5, field) & 4) != 0; }

// A field count larger than the table's field slots stops at the last slot.
int FieldLimit(int16_t form) {
  int count = FieldCount(form);
  return count < FormTable().MaxFields ? count : FormTable().MaxFields;
}

// Lowest and highest field number without flag 4; first > last when there is none.
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

std::string FitTo(const std::string& value, size_t width) {
  std::string out = value.substr(0, width);
  out.resize(width, ' ');
  return out;
}

// The editable field under a mouse click, 0 when none. Coordinates are taken relative to the
// form's own window, or to the window the form is drawn into when it has none.
int16_t ClickTarget(int16_t form, int16_t key) {
  int click = -static_cast<int>(key);
  int screenRow = click % 100;
  int screenColumn = click / 100;
  int top = FormWindow(form, 1);
  int left = FormWindow(form, 2);
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
    int fieldRow = FieldAttr(form, 0, f);
    int labelColumn = FieldAttr(form, 1, f);
    int length = FieldAttr(form, 2, f);
    int wrap = FieldAttr(form, 3, f);
    int extra = FieldAttr(form, 4, f);
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
bool RunContinuation(int16_t next, int16_t& pageUpLeaves, int16_t& pageDownLeaves,
                     int16_t& key) {
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

void RunForm(int16_t& form, int16_t& pageUpLeaves, int16_t& pageDownLeaves, int16_t& key) {
  NestingGuard guard;
  FormHooks& hooks = forms::Hooks();
  const bool continuation = form < 0;
  if (continuation) form = static_cast<int16_t>(std::abs(static_cast<int>(form)));

  // A window that PushWindow refused (outside the screen) must not be popped at the end, or
  // the enclosing window would close instead.
  bool windowOpen = false;
  if (FormWindow(form, 1) != 0) {
    int16_t depthBefore = CurrentWindow().depth;
    SetColour("+n");
    PushWindow(FormWindow(form, 1), FormWindow(form, 2), FormWindow(form, 3),
               FormWindow(form, 4));
    windowOpen = CurrentWindow().depth > depthBefore;
    if (windowOpen) DrawFrame(2);
    SetColour("-");
  }

  hooks.ShowForm(form);

  int16_t first = 1;
  int16_t last = 0;
  EditableRange(form, first, last);
  int16_t current = first;

  if (first <= last) {
    // Go straight down the chain of pages to the one the operator last left with PgUp/PgDn.
    bool met = false;
    int16_t f = form;
    for (int steps = 0; steps <= FormTable().FormCount + 1; ++steps) {
      if (f == ResumeForm()) {
        met = true;
        break;
      }
      if (NextForm(f) == 0) break;
      f = NextForm(f);
    }
    if (!met) ResumeForm() = 0;
    bool leaveNow = false;
    if (ResumeForm() > 0 && ResumeForm() != form && NextForm(form) != 0) {
      leaveNow = RunContinuation(NextForm(form), pageUpLeaves, pageDownLeaves, key);
    } else {
      ResumeForm() = 0;
    }
    if (leaveNow) current = static_cast<int16_t>(last + 1);
  }

  std::string text;
  for (;;) {
    while (first <= current && current <= last) {
      SetKeyList("+ea", FormKeys(form) + ",3b00");
      const int16_t row = FieldAttr(form, 0, current);
      const int16_t labelColumn = FieldAttr(form, 1, current);
      const int16_t length = FieldAttr(form, 2, current) > 0 ? FieldAttr(form, 2, current) : 0;
      const int16_t wrap = FieldAttr(form, 3, current);
      const int16_t extra = FieldAttr(form, 4, current) > 0 ? FieldAttr(form, 4, current) : 0;
      const int16_t flags = FieldAttr(form, 5, current);
      int16_t listNumber = FieldAttr(form, 7, current);
      const int16_t valueColumn =
          static_cast<int16_t>(labelColumn + static_cast<int>(FieldLabel(form, current).size()));
      const bool displayOnly = (flags & 4) != 0;
      const bool hidden = (flags & 2) != 0;

      if ((flags & 3) != 0) {
        text.assign(static_cast<size_t>(length), ' ');
      } else {
        text = FitTo(FieldValue(form, current), static_cast<size_t>(length));
      }
      if (hidden) SetKeyList("h", "");
      if (extra != 0 && !displayOnly) {
        LocateInWindow(row, static_cast<int16_t>(valueColumn + length));
        WriteText(std::string(static_cast<size_t>(extra), ' '));
      }

      bool rejected = false;
      do {
        if (displayOnly) break;  // passed over with the key unchanged
        SetFieldOptions(FieldOptions(form, current));
        int16_t position = 1;
        if ((flags & 8) != 0) {
          position = static_cast<int16_t>(forms::TrimRight(text).size() + 1);
        }
        int16_t editRow = row;
        int16_t editColumn = valueColumn;
        EditField(editRow, editColumn, wrap, text, position, key);
        CurrentText() = text;
        CurrentForm() = form;
        CurrentField() = current;

        rejected = false;
        if (key == key::kF1) {
          const std::string topic = forms::TrimRight(CurrentSession().MenuName);
          if (!topic.empty()) ShowHelp(topic);
          key = 0;
        } else if (key == key::kF4) {
          key = 0;
          while (listNumber > 0) {
            int16_t result = 0;
            BrowseList(listNumber, result);
            if (result != 0) break;
            const int16_t rememberedField = current;
            const int16_t rememberedList = listNumber;
            hooks.ListChosen(listNumber, form, current);
            if (listNumber == 0) {
              current = rememberedField;
              listNumber = rememberedList;
              continue;
            }
            if (current == rememberedField) {
              key = key::kDown;
              if (current == FieldCount(form) && NextForm(form) == 0) key = key::kEnter;
            } else if (current < FieldCount(form) && IsDisplayOnly(form, current)) {
              key = key::kDown;
            }
            break;
          }
        } else {
          if (extra != 0) {
            // A hidden field keeps its echo: the typed secret is never written out.
            LocateInWindow(row, valueColumn);
            std::string shown = hidden ? std::string(text.size(), 'X') : text;
            WriteText(shown + std::string(static_cast<size_t>(extra), ' '));
          }
          if (key != key::kEsc) {
            if ((flags & 3) != 0 && IsBlank(text)) {
              text = FitTo(FieldValue(form, current), text.size());
            }
            rejected = hooks.CheckField(form, text, current, key) != 0;
          } else {
            hooks.ShowField(form, current);
          }
        }
        EditableRange(form, first, last);
        if (rejected) Beep();
      } while (rejected);

      text.clear();
      if (hidden) SetKeyList("v", "");
      SetKeyList("-", "");

      bool leave = false;
      switch (key) {
        case key::kPgUp:
          if (current > first || pageUpLeaves == 0) {
            current = first;
            ResumeForm() = 0;
          } else {
            ResumeForm() = form;
            leave = true;
          }
          break;
        case key::kPgDn:
          if (current < last || pageDownLeaves == 0) {
            current = last;
            ResumeForm() = 0;
          } else {
            ResumeForm() = form;
            leave = true;
          }
          break;
        case key::kEnd:
        case key::kLeaveForm:
          leave = true;
          break;
        case key::kEsc:
          if (current > first) {
            current = first;
          } else {
            leave = true;
          }
          break;
        case key::kEnter:
        case key::kDown:
        case key::kF2:
          if ((current == last || key == key::kF2) && NextForm(form) > 0) {
            leave = RunContinuation(NextForm(form), pageUpLeaves, pageDownLeaves, key);
          } else if (key == key::kEnter) {
            ++current;  // past the last editable field this leaves the form
          } else if (key == key::kDown && current != last) {
            ++current;
          }
          break;
        case key::kUp:
          if (current > first) {
            --current;
          } else if (continuation) {
            key = key::kEsc;
            leave = true;
          }
          break;
        case 0:
          break;
        default:
          if (key < 0) {
            int16_t target = ClickTarget(form, key);
            if (target != 0) current = target;
          } else {
            leave = true;
          }
          break;
      }
      if (leave) break;
    }

    if (hooks.CheckLeave(form, key) != 0) {
      EditableRange(form, first, last);
      // With no editable field there is nowhere to keep the operator: leave regardless.
      if (first <= last) {
        current = first;
        continue;
      }
    }
    break;
  }

  if (windowOpen) PopWindow();
  CurrentText().clear();
  CurrentForm() = 0;
  CurrentField() = 0;
}

}  // namespace kap
