// The command table of kaptool: each group's file registers its commands here, and kaptool's
// main (or a harness that runs a command in-process) walks it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace kap::tool {

namespace {
std::vector<const ToolCommand*>& Table() {
  static std::vector<const ToolCommand*> table;
  return table;
}
}  // namespace

ToolCommand::ToolCommand(const char* n, const char* s, const char* u,
                         int (*r)(const std::vector<std::string>&))
    : name(n), summary(s), usage(u), run(r) {
  Table().push_back(this);
}

const std::vector<const ToolCommand*>& Commands() {
  auto& table = Table();
  std::sort(table.begin(), table.end(), [](const ToolCommand* a, const ToolCommand* b) {
    return std::strcmp(a->name, b->name) < 0;
  });
  return table;
}

int UsageError(const ToolCommand& command, const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "kaptool %s: %s\n", command.name, problem.c_str());
  std::fprintf(stderr, "%s", command.usage);
  return 2;
}

bool WantsHelp(const std::vector<std::string>& args) {
  // Arguments after "--" belong to a command that kaptool runs.
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

}  // namespace kap::tool
