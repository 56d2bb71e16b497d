// The owner-removal program driven with fuzzed keys on the in-memory console: the demo
// installation (its form file, or a fuzzed one in its place) with its small data set. When
// the keys run out the console answers Esc, a bounded number of times. Whatever the keys,
// the program must return with no window open (unless a fuzzed form file offers no Esc where
// it waits: the run ends there), and every removal it made must be whole.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "app/owner_program.h"
#include "data/data_files.h"
#include "formengine/form_driver.h"
#include "formengine/screen.h"
#include "fuzz/fuzz_keys.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_tools.h"
#include "locking/lock_files.h"
#include "platform/console.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "session/session.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMaxKeys = 300;

struct Installation {
  std::string root;      // the installation the program runs on
  std::string pristine;  // its data files and form file as laid out, copied back before a run
};

// Lays out the demo installation once per process, through the admin tool's own command.
const Installation& Demo() {
  static const Installation demo = [] {
    Installation made;
    made.root = kap::fuzz::ScratchFolder() + "inst";
    made.pristine = kap::fuzz::ScratchFolder() + "pristine";
    if (kap::fuzz::RunToolCommand("demo", {"build", KAP_SOURCE_DIR "/demo", made.root}) != 0)
      std::abort();
    fs::create_directories(made.pristine);
    for (const char* dir : {"DADES", "TAULES", "FORMS"})
      fs::copy(made.root + "/" + dir, made.pristine + "/" + dir, fs::copy_options::recursive);
    for (const char* name : {"WINDIR", "SYSTEMROOT", "HTTP_USER_AGENT", "HTTP_ACCEPT", "COMSPEC"})
      unsetenv(name);  // run mode DOS: help is shown, never opened through another program
    setenv("KAPROOT", (made.root + "/").c_str(), 1);
    setenv("KAPTMP", (made.root + "/T01").c_str(), 1);
    setenv("KAPTERM", (made.root + "/T01").c_str(), 1);
    setenv("KAPSERVIDOR", "-", 1);
    kap::SetDurableCommits(false);  // scratch data need not survive a power cut
    return made;
  }();
  return demo;
}

// Records by their two-byte code, read from what the data command's save writes.
std::map<std::string, std::string> Records(const std::string& root, const std::string& file) {
  const std::string out = kap::fuzz::ScratchFolder() + "saved.txt";
  if (kap::fuzz::RunToolCommand("data", {"save", "--replace", root + "/" + file, out}) != 0)
    __builtin_trap();
  const std::string text = kap::fuzz::ReadScratchFile(out);
  std::map<std::string, std::string> records;
  for (size_t at = 0; at < text.size() && text[at] != 0x1A;) {
    const size_t comma = text.find(',', at);
    const size_t length = std::stoul(text.substr(at, comma - at));
    records[text.substr(comma + 1, 2)] = text.substr(comma + 1, length);
    at = comma + 1 + length + 2;
  }
  return records;
}

std::set<std::string> EstatesOf(const std::string& owner) {
  std::set<std::string> codes;
  for (int slot = 0; slot < kap::owner::kEstateSlots; ++slot)
    codes.insert(owner.substr(kap::owner::kEstates + slot * kap::owner::kSlotSize, 2));
  return codes;
}

// A removal is all or nothing: an owner gone has every estate of its slots freed, an estate
// changed only by being freed by an owner gone, and nothing else changes.
void CheckRemovals(const std::map<std::string, std::string>& ownersBefore,
                   const std::map<std::string, std::string>& estatesBefore,
                   const std::string& root) {
  const auto ownersAfter = Records(root, "DADES/PropietV");
  const auto estatesAfter = Records(root, "DADES/FinquesV");
  std::set<std::string> freed;
  for (const auto& [code, owner] : ownersBefore) {
    const auto after = ownersAfter.find(code);
    if (after != ownersAfter.end()) continue;
    for (const std::string& estate : EstatesOf(owner)) freed.insert(estate);
  }
  for (const auto& [code, owner] : ownersAfter)
    if (!ownersBefore.count(code)) __builtin_trap();  // an owner that was not there
  if (estatesAfter.size() != estatesBefore.size()) __builtin_trap();
  for (const auto& [code, estate] : estatesBefore) {
    const auto after = estatesAfter.find(code);
    if (after == estatesAfter.end()) __builtin_trap();
    const std::string ownerAfter = after->second.substr(kap::estate::kOwner, 2);
    if (freed.count(code)) {
      if (ownerAfter != kap::kNoOwner) __builtin_trap();  // a removal kept in part
    } else if (after->second != estate) {
      __builtin_trap();  // an estate changed by no removal
    }
  }
}

// Each run starts from the same installation: the files as laid out, and none of what an
// earlier run left (the access log, lock files, the calculator's tape). The liveness marks'
// file stays: this process holds it open.
void Restore(const Installation& demo) {
  for (const char* dir : {"DADES", "TAULES", "FORMS"})
    fs::copy(demo.pristine + "/" + dir, demo.root + "/" + dir,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  std::error_code ignored;
  fs::remove(demo.root + "/db.log", ignored);
  fs::remove(demo.root + "/T01/KAPCALC.TMP", ignored);
  for (const auto& entry : fs::directory_iterator(demo.root + "/LOCKS", ignored))
    if (entry.path().extension() == ".lck") fs::remove(entry.path(), ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kap::MemoryConsole console(25, 80);
  static kap::MemoryClipboard clipboard;  // never the system's: no tool started, no tmux buffer
  const Installation& demo = Demo();
  static const auto ownersBefore = Records(demo.pristine, "DADES/PropietV");
  static const auto estatesBefore = Records(demo.pristine, "DADES/FinquesV");
  kap::fuzz::Input input(data, size);
  const uint8_t flags = input.Byte();
  Restore(demo);
  if (flags & 1) kap::fuzz::WriteScratchFile("inst/FORMS/VOWNMAIN.JPN", input.Sized(16384));

  kap::SetConsole(&console);
  kap::SetClipboard(&clipboard);
  kap::ResetScreenState();
  kap::ResetFormsState();
  kap::ResetDataState();
  kap::ResetOwnerProgram();
  kap::ResetSession();
  kap::SetFatalHandler([](const std::string&, int16_t) {});  // the entry stays free, go on
  kap::fuzz::QueueKeys(console, input, kMaxKeys);

  const std::string cwd = kap::GetOs().CurrentDir();
  std::string fatal;
  bool abandoned = false;
  try {
    kap::RunOwnerProgram(&fatal);
  } catch (const kap::fuzz::EscNotOffered&) {
    abandoned = true;  // left where it waited; the program closed its files on the way out
  }
  kap::GetOs().ChangeDir(cwd);  // the program moves to its root; the replay reads from here
  if (!abandoned && kap::CurrentWindow().depth != 0) __builtin_trap();  // a window left open

  CheckRemovals(ownersBefore, estatesBefore, demo.root);
  kap::SetFatalHandler(nullptr);
  kap::SetClipboard(nullptr);
  kap::ResetFormsState();
  kap::ResetScreenState();
  return 0;
}
