// The form-definition file: loaded into the form table, which must refuse what it cannot
// take with its message rather than fail or ask for unbounded memory.
#include <string>

#include "app/owner_program.h"
#include "formengine/form_driver.h"
#include "fuzz/fuzz_support.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = kap::fuzz::WriteScratchFile(
      "FORM.JPN", std::string(reinterpret_cast<const char*>(data), size));
  kap::ResetSession();
  kap::CurrentSession().RootDir = kap::fuzz::ScratchFolder();
  kap::CurrentSession().Language = "CAT";  // labels stay as loaded: no language file read
  kap::FormFileError error;
  if (kap::LoadFormFileFrom(path, error) != 0 && error.problem.empty()) __builtin_trap();
  kap::ResetFormTable();
  kap::ResetSession();
  return 0;
}
