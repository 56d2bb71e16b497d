// The window-stack file: windows opened over a stack file of fuzzed bytes must close back to
// exactly the screen they covered, and closing over the damaged rest must keep the depth,
// the cursor and the stack file's header within their bounds.
#include <string>
#include <vector>

#include "formengine/screen.h"
#include "fuzz/fuzz_support.h"
#include "platform/bytes.h"
#include "platform/console.h"
#include "session/session.h"

namespace {

struct Snapshot {
  std::string text;
  std::vector<kap::Cell> cells;
  int row = 0, column = 0;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const kap::MemoryConsole& console) {
  Snapshot s;
  for (int r = 1; r <= console.Rows(); ++r)
    for (int c = 1; c <= console.Columns(); ++c) s.cells.push_back(console.ReadCell(r, c));
  s.row = console.CursorRow();
  s.column = console.CursorColumn();
  return s;
}

void CheckBounds(const kap::MemoryConsole& console, const std::string& stackPath) {
  if (kap::CurrentWindow().depth < 0) __builtin_trap();
  if (console.CursorRow() < 1 || console.CursorRow() > console.Rows()) __builtin_trap();
  if (console.CursorColumn() < 1 || console.CursorColumn() > console.Columns()) __builtin_trap();
  // What is left of the stack file names a record end inside it.
  const std::string bytes = kap::fuzz::ReadScratchFile(stackPath);
  if (bytes.size() >= 4) {
    const int64_t next = static_cast<int32_t>(kap::LittleEndian32(bytes, 0));
    if (next < 5 || next > static_cast<int64_t>(bytes.size()) + 1) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kap::MemoryConsole console(25, 80);
  kap::fuzz::Input input(data, size);
  kap::SetConsole(&console);
  kap::ResetScreenState();
  kap::ResetSession();
  kap::CurrentSession().WorkDir = kap::fuzz::ScratchFolder();
  const std::string name = "WinPush.tmp";

  // The screen: a few rows of fuzzed text, so that a restored cell can be told apart.
  for (int r = 1; r <= 25; r += 6) {
    console.SetCursor(r, 1 + input.Byte() % 80);
    console.SetAttribute(input.Byte());
    console.Write(input.Text(40));
  }
  const bool damagedUnderneath = input.Byte() & 1;
  const int windows = input.Byte() % 4;
  std::vector<kap::WindowRect> rects;
  for (int i = 0; i < windows; ++i) {
    kap::WindowRect rect;
    rect.top = static_cast<int16_t>(1 + input.Byte() % 26);
    rect.left = static_cast<int16_t>(1 + input.Byte() % 81);
    rect.bottom = static_cast<int16_t>(rect.top + input.Byte() % 12);
    rect.right = static_cast<int16_t>(rect.left + input.Byte() % 40);
    rects.push_back(rect);
  }
  const std::string stack = input.Rest();

  // Either windows opened over a stack file another run left damaged, whose records must come
  // back exactly, or the damaged bytes found under open windows.
  if (damagedUnderneath) kap::fuzz::WriteScratchFile(name, stack);
  std::vector<Snapshot> before;
  for (const kap::WindowRect& rect : rects) {
    const int16_t depth = kap::CurrentWindow().depth;
    Snapshot snapshot = Take(console);
    kap::PushWindow(rect.top, rect.left, rect.bottom, rect.right);
    if (kap::CurrentWindow().depth == depth) continue;  // refused: outside the screen
    if (kap::CurrentWindow().depth != depth + 1) __builtin_trap();
    before.push_back(std::move(snapshot));
    kap::DrawFrame(kap::kFrameDouble);
    // Text runs on past the window's edge: keep it inside, where closing restores it.
    const int inside = rect.right - rect.left - 1;
    if (inside > 0 && rect.bottom - rect.top > 1) {
      kap::LocateInWindow(1, 1);
      kap::WriteText(std::string("window ").substr(0, inside));
    }
  }
  const std::string path = kap::fuzz::ScratchFolder() + name;
  if (damagedUnderneath) {
    while (!before.empty()) {
      const int16_t depth = kap::CurrentWindow().depth;
      kap::PopWindow();
      if (kap::CurrentWindow().depth != depth - 1) __builtin_trap();
      if (!(Take(console) == before.back())) __builtin_trap();  // not the screen it covered
      before.pop_back();
    }
  } else {
    kap::fuzz::WriteScratchFile(name, stack);
  }
  for (int i = 0; i < 4; ++i) {
    const int16_t depth = kap::CurrentWindow().depth;
    kap::PopWindow();
    if (kap::CurrentWindow().depth > depth) __builtin_trap();
    CheckBounds(console, path);
  }
  kap::ClearWindowStack();
  kap::ResetScreenState();
  return 0;
}
