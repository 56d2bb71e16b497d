// kaptool lock: look at, hold and tidy the lock files that the programs share.
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "locking/lock_files.h"
#include "platform/console.h"
#include "session/session.h"
#include "tools/commands.h"

namespace kap::tool {
namespace {

int RunLock(const std::vector<std::string>& args);

const ToolCommand kLockCommand{
    "lock", "list, hold or clear lock-file entries",
    "usage: kaptool lock list NAME\n"
    "       kaptool lock hold [--no-wait] NAME KEY -- COMMAND [ARGS...]\n"
    "       kaptool lock clear NAME\n\n"
    "NAME is a data file's name (PropietV for LOCKS\\PropietV.lck under KAPROOT).\n"
    "list   shows every entry: host, number, age in minutes, type, range and state\n"
    "       (free, stale when older than 30 minutes, mine when this terminal's).\n"
    "hold   takes the lock of the key given as its lock key text (0134), waiting while\n"
    "       another terminal holds it, runs COMMAND, gives the lock back and exits with\n"
    "       COMMAND's status. With --no-wait it exits with 75 at once when the key is taken.\n"
    "clear  clears the stale entries.\n"
    "The terminal is the one of KAPTMP (its LOCKS.TMP).\n",
    RunLock};

constexpr int kTaken = 75;

// Key bytes as they can be printed: anything outside printable ASCII as \xNN.
std::string Printable(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    const unsigned byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127 && c != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out;
}

std::string Range(const LockEntry& e) {
  if (e.type == 'F') return "whole file";
  if (e.type != 'K') return "";
  return Printable(e.fromKey.substr(0, LockEntry::LengthValue(e.fromLength))) + ".." +
         Printable(e.toKey.substr(0, LockEntry::LengthValue(e.toLength)));
}

int List(const std::string& name) {
  std::vector<LockEntry> entries;
  if (!ReadLockEntries(name, &entries)) {
    std::fprintf(stderr, "kaptool lock: cannot read the lock file of %s\n", name.c_str());
    return 1;
  }
  LockIdentity me;
  const bool haveIdentity = PeekLockIdentity(&me);
  const int64_t now = MinutesSince1970(GetOs().Now());
  std::printf("%5s  %-15s  %-11s  %5s  %-4s  %-30s  %s\n", "entry", "host", "number", "age",
              "type", "range", "state");
  for (size_t i = 0; i < entries.size(); ++i) {
    const LockEntry& e = entries[i];
    std::string state;
    int64_t number = 0;
    const bool mine = haveIdentity && e.host == me.host && e.NumberValue(&number) &&
                      number == me.number;
    if (e.Free()) {
      state = "free";
    } else {
      if (e.TimeValue() < now - kLockStaleMinutes) state = "stale";
      if (mine) state += state.empty() ? "mine" : ", mine";
      if (state.empty()) state = "held";
    }
    const std::string age = e.Free() ? "-" : std::to_string(now - e.TimeValue());
    std::printf("%5zu  %-15s  %-11s  %5s  %-4s  %-30s  %s\n", i, Printable(e.host).c_str(),
                Printable(e.number).c_str(), age.c_str(), Printable(std::string(1, e.type)).c_str(),
                Range(e).c_str(),
                state.c_str());
  }
  return 0;
}

int Clear(const std::string& name) {
  const int cleared = ClearStaleLockEntries(name);
  if (cleared < 0) {
    std::fprintf(stderr, "kaptool lock: there is no lock file for %s\n", name.c_str());
    return 1;
  }
  std::printf("%d stale %s cleared\n", cleared, cleared == 1 ? "entry" : "entries");
  return 0;
}

// Runs the command and gives back its exit status (128 + signal when a signal ended it).
#ifdef _WIN32
int RunCommand(const std::vector<std::string>& command) {
  // The C runtime joins the arguments into one command line: quote those with blanks.
  std::vector<std::string> quoted;
  for (const std::string& a : command)
    quoted.push_back(a.find_first_of(" \t") == std::string::npos ? a : "\"" + a + "\"");
  std::vector<const char*> argv;
  for (const std::string& a : quoted) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  intptr_t status = _spawnvp(_P_WAIT, argv[0], argv.data());
  if (status < 0) std::fprintf(stderr, "kaptool lock: cannot run %s\n", command[0].c_str());
  return status < 0 ? 127 : static_cast<int>(status);
}
#else
int RunCommand(const std::vector<std::string>& command) {
  // Like system(): an interrupt from the keyboard goes to the command, and the lock is still
  // given back afterwards.
  struct sigaction ignore {}, oldInt {}, oldQuit {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, &oldInt);
  sigaction(SIGQUIT, &ignore, &oldQuit);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "kaptool lock: cannot run %s\n", command[0].c_str());
    _exit(127);
  }
  int status = 0;
  int result = 127;
  if (pid > 0) {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) break;
    }
    result = WIFEXITED(status) ? WEXITSTATUS(status)
                               : (WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 127);
  }
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGQUIT, &oldQuit, nullptr);
  return result;
}
#endif

int Hold(std::vector<std::string> args) {
  bool noWait = false;
  if (!args.empty() && args[0] == "--no-wait") {
    noWait = true;
    args.erase(args.begin());
  }
  if (args.size() < 4 || args[2] != "--") {
    return UsageError(kLockCommand, "hold needs NAME KEY -- COMMAND");
  }
  const std::vector<std::string> command(args.begin() + 3, args.end());
  // "S" fails at once instead of waiting.
  LockWaitMode() = std::string(noWait ? 1 : 0, 'S');
  SetLockMessageSink({[](const std::string& text) {
                        std::fprintf(stderr, "kaptool lock: %s\n", Cp850ToUtf8(text).c_str());
                        std::fflush(stderr);
                      },
                      nullptr});
  if (LockRange(args[0], "K", args[1], args[1]) != 0) {
    std::fprintf(stderr, "kaptool lock: %s of %s is taken by another terminal\n",
                 args[1].c_str(), args[0].c_str());
    return kTaken;
  }
  const int status = RunCommand(command);
  if (UnlockRecord(args[0]) != 0) {
    std::fprintf(stderr, "kaptool lock: the entry of %s was gone before it was given back\n",
                 args[0].c_str());
  }
  return status;
}

int RunLock(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError(kLockCommand, "");
  StartSession();
  const std::string& what = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (what == "list" && rest.size() == 1) return List(rest[0]);
  if (what == "clear" && rest.size() == 1) return Clear(rest[0]);
  if (what == "hold") return Hold(rest);
  return UsageError(kLockCommand, "unknown or incomplete subcommand");
}

}  // namespace
}  // namespace kap::tool
