// Runs an admin-tool command in-process, as the tool's main would, with standard output kept
// quiet (dumps and statistics would print on every run); KAP_FUZZ_VERBOSE shows it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/commands.h"

namespace kap::fuzz {

inline int RunToolCommand(const std::string& name, const std::vector<std::string>& args) {
  const kap::tool::ToolCommand* command = nullptr;
  for (const kap::tool::ToolCommand* c : kap::tool::Commands())
    if (name == c->name) command = c;
  if (!command) std::abort();
  static const bool verbose = std::getenv("KAP_FUZZ_VERBOSE") != nullptr;
  std::fflush(stdout);
  const int saved = verbose ? -1 : dup(1);
  if (saved >= 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  const int code = command->run(args);
  std::fflush(stdout);
  if (saved >= 0) {
    dup2(saved, 1);
    close(saved);
  }
  return code;
}

}  // namespace kap::fuzz
