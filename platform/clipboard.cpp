// The process-wide clipboard and the in-memory one.
#include "platform/console.h"

namespace kap {

bool MemoryClipboard::Read(const std::string&, std::string* text) {
  if (!set_) return false;
  *text = text_;
  return true;
}

namespace {
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

}  // namespace kap
