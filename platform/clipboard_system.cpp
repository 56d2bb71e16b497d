// The system clipboard: a per-terminal file, the terminal (OSC 52) and the desktop's tools.
#include "platform/console.h"
#include "platform/os.h"

namespace kap {

namespace {

const char kFileName[] = "Clipboard.tmp";

class SystemClipboardImpl : public Clipboard {
 public:
  bool Read(const std::string& fileDir, std::string* text) override {
    OpenResult result;
    auto file = GetOs().OpenFile(fileDir + kFileName, false, true, Sharing::kShared, &result);
    if (!file) return false;
    int64_t size = file->Size();
    if (size <= 0) return false;
    std::string bytes;
    if (!file->ReadAt(0, static_cast<size_t>(std::min<int64_t>(size, 1 << 20)), &bytes)) return false;
    *text = bytes;
    return true;
  }
  void Write(const std::string& fileDir, const std::string& text) override {
    OpenResult result;
    auto file = GetOs().OpenFile(fileDir + kFileName, true, false, Sharing::kShared, &result);
    if (file) {
      file->Truncate(0);
      file->WriteAt(0, text);
    }
    GetConsole().SendClipboard(Cp850ToUtf8(text));
  }
};

}  // namespace

Clipboard& SystemClipboard() {
  static SystemClipboardImpl clipboard;
  return clipboard;
}

}  // namespace kap
