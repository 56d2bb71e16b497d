// kaptool: the administrator's tool of the suite, git style (`kaptool data stat FILE`).
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "data/data_files.h"
#include "platform/record_manager.h"
#include "tools/commands.h"

namespace kap::tool {

namespace {

void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "usage: kaptool COMMAND [ARGS...]\n"
               "       kaptool COMMAND --help\n\n"
               "Runs with the suite's environment (KAPROOT, KAPTMP, KAPTERM, ...).\n\n"
               "Commands:\n");
  for (const ToolCommand* c : Commands()) std::fprintf(out, "  %-10s %s\n", c->name, c->summary);
}

}  // namespace
}  // namespace kap::tool

int main(int argc, char** argv) {
  using namespace kap::tool;
#ifdef SIGXFSZ
  // Past a file-size limit a write fails with EFBIG and the command says so, instead of the
  // signal ending it halfway.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  if (argc < 2) {
    PrintOverview(stderr);
    return 2;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintOverview(stdout);
    return 0;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const ToolCommand* c : Commands()) {
    if (name == c->name) {
      if (WantsHelp(args)) {
        std::printf("%s", c->usage);
        return 0;
      }
      // Every command works on the engine the installation names (connected on first use).
      kap::ChooseRecordEngine();
      int code = c->run(args);
      std::string problem = kap::RecordServerProblem();
      if (!problem.empty()) std::fprintf(stderr, "kaptool: %s\n", problem.c_str());
      return code;
    }
  }
  std::fprintf(stderr, "kaptool: unknown command '%s'\n\n", name.c_str());
  PrintOverview(stderr);
  return 2;
}
