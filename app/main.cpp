// vownmain: removes owners from the owner master file.
#include <cstdio>
#include <memory>
#include <string>

#include "app/owner_program.h"
#include "platform/console.h"

int main() {
  std::string error;
  std::unique_ptr<kap::Console> console = kap::CreateTerminalConsole({}, &error);
  if (!console) {
    std::fprintf(stderr, "vownmain: %s\n", error.c_str());
    return 1;
  }
  kap::SetConsole(console.get());
  std::string fatal;
  int code = kap::RunOwnerProgram(&fatal);
  kap::SetConsole(nullptr);
  console.reset();  // gives the terminal back before anything is printed on it
  if (!fatal.empty()) std::fprintf(stderr, "vownmain: %s\n", kap::Cp850ToUtf8(fatal).c_str());
  return code;
}
