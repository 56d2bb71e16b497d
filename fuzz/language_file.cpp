// The language file: lookups of known and fuzzed texts in every language column.
#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::fuzz::Input input(data, size);
  const std::string text = input.Text(80);
  const std::string file = input.Rest();
  static const bool folder = [] {
    std::filesystem::create_directories(kap::fuzz::ScratchFolder() + "LOCALE");
    return true;
  }();
  (void)folder;
  kap::fuzz::WriteScratchFile("LOCALE/FUZZ.LNG", file);
  for (const char* language : {"SPA", "GLG", "OCI", "ENG"}) {
    kap::ResetSession();
    kap::Session& s = kap::CurrentSession();
    s.RootDir = kap::fuzz::ScratchFolder();
    s.ProgramName = "FUZZ";
    s.Language = language;
    kap::Translate(text);
    kap::Translate("CODI DEL PROPIETARI: ");
  }
  kap::ResetSession();
  return 0;
}
