// INI files: the reader over a fuzzed file, then session start-up reading the same file as
// the terminal's and the installation's settings.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::fuzz::Input input(data, size);
  const std::string section = input.Text(40);
  const std::string key = input.Text(40);
  const std::string file = input.Rest();
  const std::string path = kap::fuzz::WriteScratchFile("Sessio.ini", file);
  kap::fuzz::WriteScratchFile("Vora.ini", file);
  kap::fuzz::WriteScratchFile("VoraTerm.ini", file);
  kap::ReadIniValue(path, section, key);
  for (const char* s : {"Menu", "Terminal", "Sistema", "Usuari"})
    for (const char* k : {"Titol", "Dir", "Data", "Idioma", "DecCaracter", "Colors"})
      kap::ReadIniValue(path, s, k);
  static bool once = [] {
    setenv("KAPROOT", kap::fuzz::ScratchFolder().c_str(), 1);
    setenv("KAPTERM", kap::fuzz::ScratchFolder().c_str(), 1);
    setenv("KAPTMP", kap::fuzz::ScratchFolder().c_str(), 1);
    return true;
  }();
  (void)once;
  kap::ResetSession();
  kap::StartSession();
  kap::ResetSession();
  return 0;
}
