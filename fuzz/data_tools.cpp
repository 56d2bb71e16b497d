// Dictionaries and the data commands of the admin tool, run in-process on the local files:
// a fuzzed dictionary (a readable description compiled first, or the binary one as it is)
// makes a data file, fuzzed load text fills it, and stat, dump, save and check read it. What
// a load took must come back whole: saved, loaded into a second file and saved again, the
// two saves are the same bytes.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_tools.h"
#include "platform/record_manager.h"

namespace {

int Data(const std::vector<std::string>& args) { return kap::fuzz::RunToolCommand("data", args); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::SetDurableCommits(false);  // a scratch file need not survive a power cut
  kap::fuzz::Input input(data, size);
  const std::string dir = kap::fuzz::ScratchFolder();
  const uint8_t flags = input.Byte();
  const std::string dictionary = input.Sized(4096);
  const std::string load = input.Rest();
  const std::string xdf = dir + "D.xdf", file = dir + "F", copy = dir + "G";
  std::remove(xdf.c_str());

  if (flags & 1) {
    const std::string text = kap::fuzz::WriteScratchFile("D.txt", dictionary);
    const int code = Data({"dictionary", text, xdf});
    if (code != 0 && code != 1) __builtin_trap();
    if (code != 0) return 0;
  } else {
    kap::fuzz::WriteScratchFile("D.xdf", dictionary);
  }
  if (Data({"create", "--replace", file, xdf}) != 0) return 0;
  if (Data({"stat", file}) != 0) __builtin_trap();  // a file just made must open
  const std::string in = kap::fuzz::WriteScratchFile("IN.txt", load);
  const int loaded = (flags & 2) ? Data({"load", "--replace", file, in}) : Data({"load", file, in});
  if (loaded != 0 && loaded != 1) __builtin_trap();
  if (Data({"dump", file}) != 0) __builtin_trap();
  const std::string out = dir + "OUT.txt", again = dir + "AGAIN.txt";
  if (Data({"save", "--replace", file, out}) != 0) __builtin_trap();
  if (flags & 4) Data({"check", file});
  if (loaded == 0) {
    if (Data({"create", "--replace", copy, xdf}) != 0) __builtin_trap();
    if (Data({"load", copy, out}) != 0) __builtin_trap();  // what save wrote, load refused
    if (Data({"save", "--replace", copy, again}) != 0) __builtin_trap();
    if (kap::fuzz::ReadScratchFile(out) != kap::fuzz::ReadScratchFile(again)) __builtin_trap();
  }
  return 0;
}
