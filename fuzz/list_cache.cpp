// The list-cache file: a list without a data file shows the rows another program left in
// the working folder's cache, walked with fuzzed keys. A choice must be a row of that file,
// and the list must leave no window and no cache file behind.
#include <string>

#include "formengine/form_driver.h"
#include "formengine/screen.h"
#include "fuzz/fuzz_keys.h"
#include "fuzz/fuzz_support.h"
#include "platform/console.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kap::MemoryConsole console(25, 80);
  kap::fuzz::Input input(data, size);
  kap::SetConsole(&console);
  kap::ResetScreenState();
  kap::ResetFormsState();
  kap::ResetSession();
  kap::CurrentSession().WorkDir = kap::fuzz::ScratchFolder();
  kap::SetFormHooks(nullptr);

  // The list's window as a form file may give it, and a second list F4 may open.
  kap::CreateLists(2);
  for (int16_t list = 1; list <= 2; ++list) {
    const int16_t top = static_cast<int16_t>(1 + input.Byte() % 25);
    const int16_t left = static_cast<int16_t>(1 + input.Byte() % 80);
    kap::ListAttr(list, kap::list_attr::kTop) = top;
    kap::ListAttr(list, kap::list_attr::kLeft) = left;
    kap::ListAttr(list, kap::list_attr::kBottom) = static_cast<int16_t>(top + input.Byte() % 25);
    kap::ListAttr(list, kap::list_attr::kRight) = static_cast<int16_t>(left + input.Byte() % 80);
    kap::ListTitle(list) = input.Text(90);
  }
  kap::ListAttr(1, kap::list_attr::kSecondList) = static_cast<int16_t>(input.Byte() & 2);
  const std::string keys = input.Text(200);
  const std::string cache = input.Rest();
  kap::fuzz::WriteScratchFile("Browse.tmp", cache);

  kap::fuzz::Input keyInput(reinterpret_cast<const uint8_t*>(keys.data()), keys.size());
  kap::fuzz::QueueKeys(console, keyInput, 200);
  int16_t result = 99;
  kap::BrowseList(1, result);
  if (result != 0 && result != -1) __builtin_trap();
  if (result == 0 && !kap::ListChoiceText().empty() &&
      cache.find(kap::ListChoiceText()) == std::string::npos)
    __builtin_trap();  // a choice that no row of the file holds
  if (kap::CurrentWindow().depth != 0) __builtin_trap();
  // A list whose window has no inside never opens, and leaves the cache to its owner.
  const int16_t top = kap::ListAttr(1, kap::list_attr::kTop);
  const int16_t bottom = kap::ListAttr(1, kap::list_attr::kBottom);
  const int16_t left = kap::ListAttr(1, kap::list_attr::kLeft);
  const int16_t right = kap::ListAttr(1, kap::list_attr::kRight);
  const bool opened = bottom - top > 1 && right - left > 1 && bottom <= 25 && right <= 80;
  if (opened && !kap::fuzz::ReadScratchFile(kap::fuzz::ScratchFolder() + "Browse.tmp").empty())
    __builtin_trap();  // the cache outlived the list that read it
  kap::ResetFormsState();
  kap::ResetScreenState();
  return 0;
}
