// kaptool lock: look at, hold and tidy the lock files that the programs share.
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "locking/lock_files.h"
#include "platform/console.h"
#include "platform/text.h"
#include "session/session.h"
#include "tools/commands.h"

namespace kap::tool {
namespace {

int RunLock(const std::vector<std::string>& args);

const ToolCommand kLockCommand{
    "lock", "list, hold or clear lock-file entries",
    "usage: kaptool lock list NAME\n"
    "       kaptool lock hold [--no-wait] [--terminal] NAME KEY -- COMMAND [ARGS...]\n"
    "       kaptool lock clear NAME [ENTRY... [--live]]\n\n"
    "NAME is a data file's name (PropietV for LOCKS\\PropietV.lck under KAPROOT).\n"
    "list   shows every entry: its computer, terminal number, age in minutes, type, range\n"
    "       and holder: alive, dead (its program ended), stale (not renewed for 30\n"
    "       minutes or dated more than a day ahead), remote (another computer's, renewed\n"
    "       lately), free; \"mine\" marks the entries of the terminal of KAPTMP.\n"
    "hold   takes the lock of the key given as its lock key text (0134), waiting while\n"
    "       another terminal holds it, runs COMMAND, gives the lock back and exits with\n"
    "       COMMAND's status. With --no-wait it exits with 75 at once when the key is taken.\n"
    "       It holds the lock under an identity of its own; --terminal borrows the one of\n"
    "       the terminal of KAPTMP (its LOCKS.TMP) instead.\n"
    "clear  clears the entries of dead holders and the stale ones; with ENTRY numbers (as\n"
    "       listed) only those, and an entry whose holder is alive or on another computer\n"
    "       only with --live, which says whose it was.\n",
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

const char* HolderText(LockHolder holder) {
  switch (holder) {
    case LockHolder::kFree:
      return "free";
    case LockHolder::kAlive:
      return "alive";
    case LockHolder::kDead:
      return "dead";
    case LockHolder::kStale:
      return "stale";
    case LockHolder::kRemote:
      return "remote";
  }
  return "";
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
  std::printf("%5s  %-15s  %-11s  %5s  %-4s  %-30s  %s\n", "entry", "computer", "terminal", "age",
              "type", "range", "holder");
  for (size_t i = 0; i < entries.size(); ++i) {
    const LockEntry& e = entries[i];
    int64_t number = 0;
    const bool mine = !e.Free() && haveIdentity && e.host == me.host && e.NumberValue(&number) &&
                      number == me.number;
    std::string state = HolderText(JudgeLockHolder(e, now));
    if (mine) state += ", mine";
    const std::string age = e.Free() ? "-" : std::to_string(now - e.TimeValue());
    std::printf("%5zu  %-15s  %-11s  %5s  %-4s  %-30s  %s\n", i, Printable(e.host).c_str(),
                Printable(e.number).c_str(), age.c_str(), Printable(std::string(1, e.type)).c_str(),
                Range(e).c_str(), state.c_str());
  }
  return 0;
}

int Clear(const std::string& name) {
  const int cleared = ClearAbandonedLockEntries(name);
  if (cleared < 0) {
    std::fprintf(stderr, "kaptool lock: there is no lock file for %s\n", name.c_str());
    return 1;
  }
  std::printf("%d dead or stale %s cleared\n", cleared, cleared == 1 ? "entry" : "entries");
  return 0;
}

// Clears the named entries; a living holder's only with --live, and then it says whose.
int ClearNamed(const std::string& name, std::vector<std::string> args) {
  const auto live = std::find(args.begin(), args.end(), "--live");
  const bool evenLive = live != args.end();
  if (evenLive) args.erase(live);
  int failures = 0;
  const int64_t now = MinutesSince1970(GetOs().Now());
  for (const std::string& arg : args) {
    char* end = nullptr;
    const long long index = std::strtoll(arg.c_str(), &end, 10);
    if (arg.empty() || *end != '\0' || index < 0) {
      return UsageError(kLockCommand, "ENTRY must be an entry number as listed");
    }
    LockEntry was;
    const int result = ClearLockEntry(name, index, evenLive, &was);
    const std::string whose = "computer " + Printable(TrimSpaces(was.host)) + ", terminal " +
                              Printable(TrimSpaces(was.number)) + ", " +
                              std::to_string(now - was.TimeValue()) + " minutes old";
    if (result == 0) {
      std::printf("entry %lld cleared (%s, %s)\n", index, whose.c_str(),
                  HolderText(JudgeLockHolder(was, now)));
    } else if (result == 1) {
      std::printf("entry %lld was already free\n", index);
    } else if (result == 2) {
      std::fprintf(stderr,
                   "kaptool lock: entry %lld is held by a living holder (%s): not cleared; "
                   "add --live to clear it\n",
                   index, whose.c_str());
      ++failures;
    } else {
      std::fprintf(stderr, "kaptool lock: %s has no entry %lld\n", name.c_str(), index);
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
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
  struct sigaction ignore {
  }, oldInt{}, oldQuit{};
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
    // The lock is renewed while the command runs, however long it takes.
    for (;;) {
      const pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid || (done < 0 && errno != EINTR)) break;
      RenewHeldLocks();
      usleep(200 * 1000);
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
  bool noWait = false, borrow = false;
  while (!args.empty() && (args[0] == "--no-wait" || args[0] == "--terminal")) {
    (args[0] == "--no-wait" ? noWait : borrow) = true;
    args.erase(args.begin());
  }
  if (args.size() < 4 || args[2] != "--") {
    return UsageError(kLockCommand, "hold needs NAME KEY -- COMMAND");
  }
  const std::vector<std::string> command(args.begin() + 3, args.end());
  // A running terminal's identity would let this tool release that terminal's locks.
  if (!borrow) UseOwnLockIdentity();
  // "S" fails at once instead of waiting.
  LockWaitMode() = std::string(noWait ? 1 : 0, 'S');
  SetLockMessageSink({[](const std::string& text) {
                        std::fprintf(stderr, "kaptool lock: %s\n", Cp850ToUtf8(text).c_str());
                        std::fflush(stderr);
                      },
                      nullptr});
  if (LockRange(args[0], "K", args[1], args[1]) != 0) {
    std::fprintf(stderr, "kaptool lock: %s of %s is taken by another terminal\n", args[1].c_str(),
                 args[0].c_str());
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
  if (what == "clear" && rest.size() > 1) {
    return ClearNamed(rest[0], std::vector<std::string>(rest.begin() + 1, rest.end()));
  }
  if (what == "hold") return Hold(rest);
  return UsageError(kLockCommand, "unknown or incomplete subcommand");
}

}  // namespace
}  // namespace kap::tool
