// vownmain: removes owners from the owner master file.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/owner_program.h"
#include "data/data_files.h"
#include "platform/console.h"

namespace {

// One line for the administrator; the terminal must already be given back.
void SayOnStderr(const std::string& text) {
  std::fprintf(stderr, "vownmain: %s\n", kap::Cp850ToUtf8(text).c_str());
}

void SayAccessLogProblem() {
  if (!kap::AccessLogProblem().empty()) SayOnStderr(kap::AccessLogProblem());
}

}  // namespace

int main() {
  // Refusals come before the terminal is taken and before any lock.
  std::string refusal = kap::StartupRefusal();
  if (!refusal.empty()) {
    SayOnStderr(refusal);
    return 1;
  }
  std::string error;
  kap::TerminalOptions options;
  options.minimumRows = 25;
  options.minimumColumns = 80;
  std::unique_ptr<kap::Console> console = kap::CreateTerminalConsole(options, &error);
  if (!console) {
    SayOnStderr(error);
    return 1;
  }
  kap::SetConsole(console.get());
  // A data file that cannot be opened ends the run with code 0 after its message; stderr then
  // says which file and why.
  kap::SetFatalHandler([](const std::string& message, int16_t status) {
    kap::GetConsole().Suspend();
    SayOnStderr(message + ": " + kap::StatusCause(status));
    SayAccessLogProblem();
    int16_t ignored = 0;
    kap::ResetDataFiles(ignored);
    std::exit(0);
  });
  std::string fatal;
  int code = kap::RunOwnerProgram(&fatal);
  kap::SetConsole(nullptr);
  console.reset();  // gives the terminal back before anything is printed on it
  if (!fatal.empty()) SayOnStderr(fatal);
  SayAccessLogProblem();
  return code;
}
