// kaptool's subcommands. Each tools/<group>.cpp declares its entry with a static ToolCommand
// object; kaptool.cpp walks the table for dispatch and help.
#pragma once

#include <string>
#include <vector>

namespace kap::tool {

struct ToolCommand {
  const char* name;     // "data", "lock", ...
  const char* summary;  // one line for `kaptool --help`
  const char* usage;    // full text for `kaptool NAME --help`
  // Runs with the arguments after the name; returns the exit status.
  int (*run)(const std::vector<std::string>& args);

  // Registers the command in the table (static objects in each group's file).
  ToolCommand(const char* name, const char* summary, const char* usage,
              int (*run)(const std::vector<std::string>& args));
};

const std::vector<const ToolCommand*>& Commands();

// Prints the usage of `command` on stderr and returns 2 (bad invocation).
int UsageError(const ToolCommand& command, const std::string& problem);

// True when args holds "--help" or "-h".
bool WantsHelp(const std::vector<std::string>& args);

}  // namespace kap::tool
