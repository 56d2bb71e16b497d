// The Windows clipboard as Unicode text, turned to and from code page 850. The per-terminal
// clipboard file keeps the last copy too and answers when the clipboard cannot be opened
// (another program holding it, or no window station).
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/clipboard_file.h"
#include "platform/console.h"

namespace kap {

namespace {

constexpr size_t kMaxText = 1 << 20;

// Another program may hold the clipboard for a moment.
bool OpenSystemClipboard() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (::OpenClipboard(nullptr)) return true;
    ::Sleep(20);
  }
  return false;
}

bool ReadSystem(std::string* text) {
  if (!OpenSystemClipboard()) return false;
  bool ok = false;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const wchar_t* wide = static_cast<const wchar_t*>(::GlobalLock(data))) {
      std::string out;
      for (size_t i = 0; wide[i] != 0 && out.size() < kMaxText; ++i) {
        char16_t ch = static_cast<char16_t>(wide[i]);
        if (ch == u'\r' && wide[i + 1] == u'\n') continue;
        out.push_back(static_cast<char>(ch < 0x20 || ch == 0x7F ? static_cast<uint8_t>(ch)
                                                                : UnicodeToCp850(ch, '?')));
      }
      ::GlobalUnlock(data);
      *text = out;
      ok = true;
    }
  }
  ::CloseClipboard();
  return ok;
}

bool WriteSystem(const std::string& text) {
  std::wstring wide;
  for (unsigned char b : text) {
    if (b == '\n') wide.push_back(L'\r');
    wide.push_back(static_cast<wchar_t>(b < 0x20 || b == 0x7F ? b : Cp850ToUnicode(b)));
  }
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
  if (!memory) return false;
  wchar_t* out = static_cast<wchar_t*>(::GlobalLock(memory));
  std::copy(wide.begin(), wide.end(), out);
  out[wide.size()] = 0;
  ::GlobalUnlock(memory);
  if (!OpenSystemClipboard()) {
    ::GlobalFree(memory);
    return false;
  }
  ::EmptyClipboard();
  bool ok = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  if (!ok) ::GlobalFree(memory);  // the clipboard owns it only on success
  ::CloseClipboard();
  return ok;
}

class WindowsClipboard : public Clipboard {
 public:
  bool Read(const std::string& fileDir, std::string* text) override {
    if (ReadSystem(text)) return !text->empty();
    return ReadClipboardFile(fileDir, text);
  }

  void Write(const std::string& fileDir, const std::string& text) override {
    WriteClipboardFile(fileDir, text);
    WriteSystem(text);
  }
};

}  // namespace

Clipboard& SystemClipboard() {
  static WindowsClipboard clipboard;
  return clipboard;
}

}  // namespace kap
