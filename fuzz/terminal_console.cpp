// The terminal console on a pseudo-terminal: fuzzed bytes written to the terminal's other
// side, keys read through the console until none come, under one of a few terminal types.
// Reading must never block, and where no escape byte is sent every printable character must
// come through as its key, in order, whatever invalid bytes lie between.
#include <fcntl.h>
#include <pty.h>
#include <sanitizer/lsan_interface.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/console.h"

namespace {

constexpr const char* kTerminals[] = {"xterm-256color", "tmux-256color", "screen", "linux"};
constexpr size_t kMaxBytes = 2048;  // what a pseudo-terminal takes without being read
constexpr int kMaxReads = 20000;

// Reads (and drops) what the console drew, so that its writes never fill the terminal.
void Drain(int master) {
  char buffer[4096];
  while (read(master, buffer, sizeof buffer) > 0) {
  }
}

// One call into the console must come back at once: a read that waits for bytes that never
// come is the fault this harness looks for.
template <typename Call>
auto Bounded(Call call) {
  const auto start = std::chrono::steady_clock::now();
  auto result = call();
  if (std::chrono::steady_clock::now() - start > std::chrono::seconds(3)) {
    std::fprintf(stderr, "fuzz: the console blocked reading input\n");
    __builtin_trap();
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::fuzz::Input input(data, size);
  const uint8_t choice = input.Byte();
  std::string bytes = input.Rest().substr(0, kMaxBytes);
  setenv("TERM", kTerminals[choice % std::size(kTerminals)], 1);
  // Under TERM=linux the curses library asks the gpm mouse server first; where none runs, the
  // gpm library leaves a descriptor open on the terminal each time, and one console per input
  // runs out of pseudo-terminals within an hour. Without gpm the library reads mouse reports
  // from the terminal, as it does anyway when gpm is not there.
  setenv("NCURSES_GPM_TERMS", "", 1);

  int master = -1, slave = -1;
  struct winsize size25x80 = {25, 80, 0, 0};
  if (openpty(&master, &slave, nullptr, nullptr, &size25x80) != 0) {
    std::perror("fuzz: no pseudo-terminal (descriptors left open by an earlier input?)");
    __builtin_trap();
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  std::fflush(stdout);
  const int savedIn = dup(0), savedOut = dup(1);
  dup2(slave, 0);
  dup2(slave, 1);

  kap::TerminalOptions options;
  options.mouse = (choice & 0x80) == 0;
  std::string error;
  // The curses library keeps small allocations of its mouse set-up out of reach when one
  // terminal type follows another in a process (a program opens one console only): not this
  // code's to free, so opening is left out of the leak check.
  __lsan_disable();
  std::unique_ptr<kap::Console> console = kap::CreateTerminalConsole(options, &error);
  __lsan_enable();
  if (!console) {
    std::fprintf(stderr, "fuzz: no terminal console: %s\n", error.c_str());
    __builtin_trap();
  }
  console->SetMouseReporting(true);
  Drain(master);
  if (write(master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();

  std::string typed;  // printable characters that came as keys of their own
  kap::InputEvent event;
  for (int reads = 0; reads < kMaxReads; ++reads) {
    Drain(master);
    if (!Bounded([&] { return console->ReadInput(&event); })) {
      if (!Bounded([&] { return console->WaitInput(10); })) break;
      continue;
    }
    const bool alt = event.modifiers & (kap::modifier::kLeftAlt | kap::modifier::kRightAlt);
    if (event.kind == kap::InputEvent::Kind::kKeyDown && !alt && event.character >= 0x20 &&
        event.character < 0x7F)
      typed.push_back(static_cast<char>(event.character));
  }
  Drain(master);
  console.reset();
  std::fflush(stdout);
  Drain(master);
  dup2(savedIn, 0);
  dup2(savedOut, 1);
  close(savedIn);
  close(savedOut);
  close(slave);
  close(master);

  if (bytes.find('\x1b') == std::string::npos) {
    // A byte that starts no character stands for itself, and one code page 850 lacks comes
    // as "?": leave "?" out on both sides.
    std::erase(typed, '?');
    std::string printable;
    for (char c : bytes)
      if (c >= 0x20 && c < 0x7F && c != '?') printable.push_back(c);
    if (typed != printable) __builtin_trap();  // a key lost or made up around other bytes
  }
  return 0;
}
