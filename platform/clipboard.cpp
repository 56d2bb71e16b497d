// The process-wide clipboard, the in-memory one and the per-terminal clipboard file.
#include <algorithm>

#include "platform/clipboard_file.h"
#include "platform/console.h"
#include "platform/os.h"

namespace kap {

bool MemoryClipboard::Read(const std::string&, std::string* text) {
  if (!set_) return false;
  *text = text_;
  return true;
}

namespace {
const char kFileName[] = "Clipboard.tmp";
constexpr size_t kMaxText = 1 << 20;

Clipboard*& Installed() {
  static Clipboard* clipboard = nullptr;
  return clipboard;
}
}  // namespace

Clipboard& GetClipboard() {
  Clipboard* c = Installed();
  return c ? *c : SystemClipboard();
}

void SetClipboard(Clipboard* clipboard) { Installed() = clipboard; }

bool ReadClipboardFile(const std::string& fileDir, std::string* text) {
  OpenResult result;
  auto file = GetOs().OpenFile(fileDir + kFileName, false, true, Sharing::kShared, &result);
  if (!file) return false;
  int64_t size = file->Size();
  if (size <= 0) return false;
  std::string bytes;
  if (!file->ReadAt(0, static_cast<size_t>(std::min<int64_t>(size, kMaxText)), &bytes))
    return false;
  *text = bytes;
  return true;
}

void WriteClipboardFile(const std::string& fileDir, const std::string& text) {
  OpenResult result;
  auto file = GetOs().OpenFile(fileDir + kFileName, true, false, Sharing::kShared, &result);
  if (file) {
    file->Truncate(0);
    file->WriteAt(0, text);
  }
}

}  // namespace kap
