// Shared test support: temporary folders, environment overrides, child processes and a tmux
// harness for end-to-end tests on a real terminal.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kap::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string file(const std::string& relative) const;

 private:
  std::string path_;
};

// Sets (or with unset, removes) environment variables for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv& Set(const std::string& name, const std::string& value);
  ScopedEnv& Unset(const std::string& name);

 private:
  std::map<std::string, std::pair<bool, std::string>> saved_;
  void Save(const std::string& name);
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);  // "" when missing
// The bytes of the lock file LOCKS/<name> of the installation at `root`, wherever the
// installation keeps its lock files: on disk (the name as given or upper-cased), or on the data
// server when this process uses one.
std::string LockFileBytes(const std::string& root, const std::string& name);
// Puts `bytes` as the whole lock file LOCKS/<name> there, the name kept as given on disk.
void WriteLockFileBytes(const std::string& root, const std::string& name, const std::string& bytes);
// The names in the installation's LOCKS folder, wherever it keeps its lock files, sorted.
std::vector<std::string> LockFileNames(const std::string& root);
bool FileExists(const std::string& path);
void MakeDirs(const std::string& path);

// Path of a program built by this build: BuildPath("tools/kaptool").
std::string BuildPath(const std::string& relative);
std::string SourcePath(const std::string& relative);

struct ProcessResult {
  int exitCode = -1;   // exit status, or -1 when killed by a signal
  int signal = 0;      // the signal that ended it, 0 otherwise
  std::string output;  // standard output
  std::string errors;  // standard error
  bool timedOut = false;
};

struct ProcessOptions {
  std::string workingDir;                  // "" = current
  std::map<std::string, std::string> env;  // added to (or replacing in) the environment
  std::vector<std::string> unsetEnv;
  std::string input;                         // written to standard input, then closed
  std::chrono::milliseconds timeout{60000};  // killed with SIGKILL after this
};

// Runs argv[0] (a path) with its arguments and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Runs `body` in a forked child process that exits with the value it returns; the parent
// gets the pid. Use WaitChild to collect it.
int ForkChild(const std::function<int()>& body);
// Waits for a forked child; returns its exit code, or -1 when a signal ended it.
int WaitChild(int pid);

// WaitChild, then, when the tests run on the data server, waits until the server has ended
// the child's sessions too (it does so a moment after the process): only then are the locks
// they held free. -2 when the sessions outlive the wait.
int WaitChildAndItsSessions(int pid);
// When the tests run on the data server, waits until the server has ended the sessions of
// process `pid` (one that has ended, not necessarily a child); false when they outlive the wait.
bool WaitForServerSessionsOf(int pid);

// Asks `condition` again every few milliseconds until it holds or `limit` has passed; true when
// it held. For what a third party finishes after the process a test ended: a database server
// frees a dead client's locks only once it has noticed the closed connection.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// What a child role is told, by name; values may hold any bytes.
using ChildArgs = std::map<std::string, std::string>;
using ChildRoleBody = std::function<int(const ChildArgs&)>;

// A child process that plays one part of the running test and exits with what its role
// returns. On POSIX it is forked and runs the role at once. Windows has no fork: this test
// executable runs again on the running test with the role's name and arguments in its
// environment, and the test's fixture hands it to RunChildRole from SetUp. So a role relies on
// its arguments only, never on what the test did before it started the child.
class ChildProcess {
 public:
  ChildProcess(const std::string& role, const ChildArgs& args, const ChildRoleBody& body);
  ~ChildProcess();  // a child still running is killed
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Started() const;
  int Id() const { return id_; }
  // Ends it at once, as a crash would. POSIX sends `signal` (SIGKILL when 0); Windows has one
  // way only, TerminateProcess.
  void Kill(int signal = 0);
  // False once it has ended (its code is then kept for Wait).
  bool Running();
  // Waits for its end, killing it after `limit`; its exit code, -1 when it was killed. When the
  // tests run on the data server it also waits until the server has ended the child's sessions
  // (-2 when they outlive the wait): only then are the locks they held free.
  int Wait(std::chrono::milliseconds limit = std::chrono::milliseconds(120000));

 private:
  int id_ = -1;
  bool ended_ = false;
  int code_ = -1;            // once ended
  void* process_ = nullptr;  // Windows: the process handle
};

// In a child that ChildProcess started on Windows: runs the role its environment names, from
// `roles`, and ends the process with the role's code. Does nothing in the test's own run.
void RunChildRole(const std::map<std::string, ChildRoleBody>& roles);
// Ends this process at once, as a kill would: no clean-up, no unlock.
[[noreturn]] void CrashThisProcess();

// A private tmux server with one session of the given size running one command.
class Tmux {
 public:
  // command: run through /bin/sh -c in `workingDir` with `env` added.
  Tmux(const std::string& command, const std::map<std::string, std::string>& env = {},
       const std::string& workingDir = "", int columns = 80, int rows = 25);
  ~Tmux();
  Tmux(const Tmux&) = delete;
  Tmux& operator=(const Tmux&) = delete;

  // tmux key names: "Up", "F1", "M-x", "C-Left", "Enter", "Escape" ...
  void SendKeys(const std::vector<std::string>& keys);
  // Literal text (UTF-8).
  void SendText(const std::string& text);
  // Raw bytes in hexadecimal, as `send-keys -H`.
  void SendHex(const std::vector<std::string>& bytes);
  // The screen as 'rows' lines of text (UTF-8, trailing blanks kept to the width).
  // `history`: that many rows scrolled off above the screen come first.
  std::vector<std::string> Screen(int history = 0);
  std::string ScreenText();  // lines joined with '\n'
  // Waits until the screen contains `text`; false after `timeout`.
  bool WaitFor(const std::string& text,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  // Waits until the screen has not changed for `quiet`.
  void WaitQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(200),
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // True once the command has ended; its exit status in *status.
  bool Exited(int* status = nullptr);
  bool WaitExit(int* status, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  // tmux format value for the pane, e.g. "#{cursor_x}".
  std::string Display(const std::string& format);
  std::string Run(const std::vector<std::string>& args);  // any tmux command on this server

 private:
  std::string socket_;
  std::string session_;
  std::string statusFile_;  // the command's exit status, written by the pane's shell
};

}  // namespace kap::test
