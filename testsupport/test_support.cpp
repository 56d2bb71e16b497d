#include "testsupport/test_support.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "platform/record_manager.h"
#include "platform/text.h"
#ifndef _WIN32
#include <libpq-fe.h>
#endif

namespace kap::test {

namespace fs = std::filesystem;

#ifdef _WIN32
// What the C runtime of Windows lacks: temporary folders under %TEMP%, and the environment
// through _putenv_s (an empty value removes a variable).
namespace {
char* mkdtemp(char* pattern) {
  size_t n = std::strlen(pattern);
  if (n < 6) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned value = static_cast<unsigned>(std::rand()) * 7919u + static_cast<unsigned>(attempt);
    for (size_t i = n - 6; i < n; ++i, value /= 36)
      pattern[i] = "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
    if (_mkdir(pattern) == 0) return pattern;
  }
  return nullptr;
}
int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
int unsetenv(const char* name) { return _putenv_s(name, ""); }
const char* TempBase() {
  const char* temp = std::getenv("TEMP");
  return temp && *temp ? temp : ".";
}
}  // namespace
#else
namespace {
const char* TempBase() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}
}  // namespace
#endif

TempDir::TempDir() {
  std::string pattern = std::string(TempBase()) + "/kaptest.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& relative) const { return path_ + "/" + relative; }

void ScopedEnv::Save(const std::string& name) {
  if (saved_.count(name)) return;
  const char* old = std::getenv(name.c_str());
  saved_[name] = {old != nullptr, old ? old : ""};
}

ScopedEnv& ScopedEnv::Set(const std::string& name, const std::string& value) {
  Save(name);
  setenv(name.c_str(), value.c_str(), 1);
  return *this;
}

ScopedEnv& ScopedEnv::Unset(const std::string& name) {
  Save(name);
  unsetenv(name.c_str());
  return *this;
}

ScopedEnv::~ScopedEnv() {
  for (auto& [name, old] : saved_) {
    if (old.first) {
      setenv(name.c_str(), old.second.c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string LockFileBytes(const std::string& root, const std::string& name) {
  if (RecordServerConnection().empty()) {
    // On disk the suite's name is upper-cased before its extension.
    const size_t dot = std::min(name.rfind('.'), name.size());
    const std::string disk = UpperAscii(name.substr(0, dot)) + name.substr(dot);
    std::string bytes = ReadFile(root + "/LOCKS/" + name);
    return bytes.empty() && disk != name ? ReadFile(root + "/LOCKS/" + disk) : bytes;
  }
  OpenResult result = OpenResult::kFailed;
  std::unique_ptr<File> file =
      OpenServerLockFile("LOCKS/" + UpperAscii(name), false, Sharing::kShared, &result);
  std::string bytes;
  if (file) file->ReadAt(0, static_cast<size_t>(file->Size()), &bytes);
  return bytes;
}

void WriteLockFileBytes(const std::string& root, const std::string& name,
                        const std::string& bytes) {
  if (RecordServerConnection().empty()) {
    MakeDirs(root + "/LOCKS");
    WriteFile(root + "/LOCKS/" + name, bytes);
    return;
  }
  OpenResult result = OpenResult::kFailed;
  std::unique_ptr<File> file =
      OpenServerLockFile("LOCKS/" + UpperAscii(name), true, Sharing::kExclusive, &result);
  if (!file || !file->Truncate(0) || !file->WriteAt(0, bytes))
    throw std::runtime_error("cannot write the lock file " + name + " on the server");
}

std::vector<std::string> LockFileNames(const std::string& root) {
  std::vector<std::string> names;
  if (RecordServerConnection().empty()) {
    std::error_code ignored;
    for (const auto& f : fs::directory_iterator(root + "/LOCKS", ignored))
      names.push_back(f.path().filename().string());
  } else {
    for (const std::string& name : ServerLockFileNames())
      names.push_back(name.substr(name.find_last_of('/') + 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

void MakeDirs(const std::string& path) {
  std::error_code ignored;
  fs::create_directories(path, ignored);
}

std::string BuildPath(const std::string& relative) {
  return std::string(KAP_BINARY_DIR) + "/" + relative;
}

std::string SourcePath(const std::string& relative) {
  return std::string(KAP_SOURCE_DIR) + "/" + relative;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

#ifdef _WIN32
namespace {

// Roles and arguments travel in the environment, which holds text only: every name and value
// goes as hex, "name:value," for each argument.
const char* const kRoleVariable = "KAP_TEST_CHILD_ROLE";
const char* const kArgsVariable = "KAP_TEST_CHILD_ARGS";
// The exit code of a process ended by Kill or CrashThisProcess, which Wait answers as -1.
constexpr UINT kKilledCode = 0xDEAD;

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

std::string EncodeArgs(const ChildArgs& args) {
  std::string text;
  for (const auto& [name, value] : args) text += ToHex(name) + ":" + ToHex(value) + ",";
  return text;
}

ChildArgs DecodeArgs(const std::string& text) {
  ChildArgs args;
  for (size_t at = 0; at < text.size();) {
    const size_t colon = text.find(':', at), comma = text.find(',', at);
    if (colon == std::string::npos || comma == std::string::npos || comma < colon) break;
    args[FromHex(text.substr(at, colon - at))] = FromHex(text.substr(colon + 1, comma - colon - 1));
    at = comma + 1;
  }
  return args;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& role, const ChildArgs& args, const ChildRoleBody&) {
  char self[MAX_PATH];
  if (::GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!test) return;
  // The child inherits this environment, so the role is put there for the start and taken back.
  ScopedEnv env;
  env.Set(kRoleVariable, role).Set(kArgsVariable, EncodeArgs(args));
  std::string command = "\"" + std::string(self) +
                        "\" --gtest_brief=1 --gtest_filter=" + test->test_suite_name() + "." +
                        test->name();
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return;
  }
  ::CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = static_cast<int>(info.dwProcessId);
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (!ended_) {
    Kill();
    Wait();
  }
  ::CloseHandle(process_);
}

bool ChildProcess::Started() const { return process_ != nullptr; }

void ChildProcess::Kill(int) {
  if (process_ && !ended_) ::TerminateProcess(process_, kKilledCode);
}

bool ChildProcess::Running() {
  return process_ && !ended_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (!process_) return -1;
  if (::WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
    Kill();
    ::WaitForSingleObject(process_, INFINITE);
  }
  ended_ = true;
  DWORD code = 0;
  ::GetExitCodeProcess(process_, &code);
  return code == kKilledCode ? -1 : static_cast<int>(code);
}

void RunChildRole(const std::map<std::string, ChildRoleBody>& roles) {
  const char* role = std::getenv(kRoleVariable);
  if (!role) return;
  const char* args = std::getenv(kArgsVariable);
  auto body = roles.find(role);
  int code = 98;  // a role this test does not know
  if (body != roles.end()) {
    try {
      code = body->second(DecodeArgs(args ? args : ""));
    } catch (...) {
      code = 99;
    }
  }
  std::fflush(nullptr);
  std::_Exit(code);
}

void CrashThisProcess() {
  ::TerminateProcess(::GetCurrentProcess(), kKilledCode);
  std::_Exit(static_cast<int>(kKilledCode));
}
#endif

#ifndef _WIN32  // forked children and tmux
namespace {

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(126);
    for (const auto& name : options.unsetEnv) unsetenv(name.c_str());
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  std::thread feeder([fd = in[1], input = options.input] {
    WriteAll(fd, input);
    close(fd);
  });
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    int ready = poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.output : result.errors).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  feeder.join();
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

int ForkChild(const std::function<int()>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int code = 1;
    try {
      code = body();
    } catch (...) {
      code = 99;
    }
    fflush(nullptr);
    _exit(code);
  }
  return pid;
}

int WaitChild(int pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitForServerSessionsOf(int pid) {
  const char* server = std::getenv("KAPSERVIDOR");
  if (server == nullptr || *server == '\0') return true;
  PGconn* conn = PQconnectdb(server);
  const std::string name = DataServerSessionName(pid);
  const char* values[] = {name.c_str()};
  const bool ended = PQstatus(conn) == CONNECTION_OK && Eventually([&] {
                       PGresult* r = PQexecParams(
                           conn, "SELECT 1 FROM pg_stat_activity WHERE application_name = $1", 1,
                           nullptr, values, nullptr, nullptr, 0);
                       const bool none = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 0;
                       PQclear(r);
                       return none;
                     });
  PQfinish(conn);
  return ended;
}

int WaitChildAndItsSessions(int pid) {
  const int code = WaitChild(pid);
  return WaitForServerSessionsOf(pid) ? code : -2;
}

ChildProcess::ChildProcess(const std::string&, const ChildArgs& args, const ChildRoleBody& body) {
  id_ = ForkChild([&] { return body(args); });
}

ChildProcess::~ChildProcess() {
  if (id_ > 0 && !ended_) {
    Kill();
    Wait();
  }
}

bool ChildProcess::Started() const { return id_ > 0; }

void ChildProcess::Kill(int signal) {
  if (id_ > 0 && !ended_) ::kill(id_, signal ? signal : SIGKILL);
}

bool ChildProcess::Running() {
  if (id_ <= 0 || ended_) return false;
  int status = 0;
  pid_t got;
  do {
    got = ::waitpid(id_, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return true;
  ended_ = true;
  code_ = got == id_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return false;
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (id_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(id_, SIGKILL);
      WaitChild(id_);
      ended_ = true;
      code_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WaitForServerSessionsOf(id_) ? code_ : -2;
}

void RunChildRole(const std::map<std::string, ChildRoleBody>&) {}

void CrashThisProcess() {
  ::raise(SIGKILL);
  std::_Exit(137);
}

// --- tmux ---

namespace {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

int tmuxCounter = 0;

}  // namespace

Tmux::Tmux(const std::string& command, const std::map<std::string, std::string>& env,
           const std::string& workingDir, int columns, int rows) {
  socket_ = "kaptest-" + std::to_string(getpid()) + "-" + std::to_string(++tmuxCounter);
  session_ = "t";
  // tmux does not always learn a dead pane's exit status, so the pane's shell writes it down.
  statusFile_ = (std::filesystem::temp_directory_path() / (socket_ + ".status")).string();
  std::remove(statusFile_.c_str());
  std::string script;
  if (!workingDir.empty()) script += "cd " + ShellQuote(workingDir) + " && ";
  script += "env TERM=tmux-256color LANG=C.UTF-8";
  for (const auto& [name, value] : env) script += " " + ShellQuote(name + "=" + value);
  script += " /bin/sh -c " + ShellQuote(command);
  script += "; echo $? >" + ShellQuote(statusFile_ + ".part") + " && mv " +
            ShellQuote(statusFile_ + ".part") + " " + ShellQuote(statusFile_);
  Run({"-f", "/dev/null", "new-session", "-d", "-x", std::to_string(columns), "-y",
       std::to_string(rows), "-s", session_, script});
  Run({"set-option", "-t", session_, "remain-on-exit", "on"});
  Run({"set-option", "-s", "escape-time", "10"});
}

Tmux::~Tmux() {
  Run({"kill-server"});
  std::remove(statusFile_.c_str());
  std::remove((statusFile_ + ".part").c_str());
}

std::string Tmux::Run(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/tmux", "-L", socket_};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions options;
  options.timeout = std::chrono::milliseconds(20000);
  return RunProcess(argv, options).output;
}

void Tmux::SendKeys(const std::vector<std::string>& keys) {
  std::vector<std::string> args = {"send-keys", "-t", session_};
  args.insert(args.end(), keys.begin(), keys.end());
  Run(args);
}

// "--" so that a text starting with "-" is not read as a flag.
void Tmux::SendText(const std::string& text) {
  Run({"send-keys", "-t", session_, "-l", "--", text});
}

void Tmux::SendHex(const std::vector<std::string>& bytes) {
  std::vector<std::string> args = {"send-keys", "-t", session_, "-H"};
  args.insert(args.end(), bytes.begin(), bytes.end());
  Run(args);
}

std::vector<std::string> Tmux::Screen(int history) {
  std::vector<std::string> args = {"capture-pane", "-p", "-N", "-t", session_};
  if (history > 0) {
    args.push_back("-S");
    args.push_back(std::to_string(-history));
  }
  std::string text = Run(args);
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string Tmux::ScreenText() {
  std::string joined;
  for (const auto& line : Screen()) joined += line + "\n";
  return joined;
}

bool Tmux::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ScreenText().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  return false;
}

void Tmux::WaitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string last = ScreenText();
  auto stableSince = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::string now = ScreenText();
    if (now != last) {
      last = now;
      stableSince = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - stableSince >= quiet) {
      return;
    }
  }
}

std::string Tmux::Display(const std::string& format) {
  std::string value = Run({"display-message", "-p", "-t", session_, format});
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return value;
}

bool Tmux::Exited(int* status) {
  if (Display("#{pane_dead}") != "1") return false;
  // The shell has written the status unless it was killed with the command; then tmux's own
  // record of the end is all there is, and it may come a moment after the pane died.
  std::string code, signal;
  for (int i = 0; i < 40 && code.empty() && signal.empty(); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::ifstream written(statusFile_);
    if (written >> code) break;
    signal = Display("#{pane_dead_signal}");
  }
  if (code.empty() && signal.empty()) code = Display("#{pane_dead_status}");
  if (status)
    *status = !code.empty()    ? std::atoi(code.c_str())
              : signal.empty() ? -1
                               : 128 + std::atoi(signal.c_str());
  return true;
}

bool Tmux::WaitExit(int* status, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Exited(status)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  return false;
}

#endif  // _WIN32

}  // namespace kap::test
