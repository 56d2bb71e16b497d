// The system clipboard: a per-terminal file that always holds the last copy, the terminal's own
// clipboard (OSC 52) and, where one runs, tmux or the desktop's clipboard tools.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "platform/clipboard_file.h"
#include "platform/console.h"
#include "platform/os.h"

namespace kap {

namespace {

constexpr int kToolTimeoutMs = 2000;
constexpr size_t kMaxText = 1 << 20;

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t from = 0;
  for (;;) {
    size_t colon = dirs.find(':', from);
    std::string dir =
        dirs.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    if (colon == std::string::npos) return false;
    from = colon + 1;
  }
}

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// Runs a clipboard tool with `input` on its standard input and collects its standard output;
// a tool that hangs is killed after the timeout. True when it exited with status 0.
bool RunTool(const std::vector<std::string>& argv, const std::string& input, std::string* output) {
  int in[2], out[2];
  // A socket for the tool's input, so that a tool exiting early cannot raise SIGPIPE here.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  BeforeWait();  // the tool may take a while to answer
  pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    int devnull = open("/dev/null", O_WRONLY);
    dup2(in[1], 0);
    dup2(output ? out[1] : devnull, 1);
    dup2(devnull, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[1]);
  close(out[1]);
  int writeFd = in[0], readFd = out[0];
  size_t written = 0;
  if (input.empty()) shutdown(writeFd, SHUT_WR);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kToolTimeoutMs);
  bool readOpen = true, writeOpen = !input.empty();
  std::string collected;
  while (readOpen || writeOpen) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) break;
    pollfd fds[2];
    int n = 0;
    if (readOpen) fds[n++] = {readFd, POLLIN, 0};
    if (writeOpen) fds[n++] = {writeFd, POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(n), left) <= 0) continue;
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == readFd) {
        char buffer[4096];
        ssize_t got = read(readFd, buffer, sizeof buffer);
        if (got <= 0)
          readOpen = false;
        else if (collected.size() < kMaxText)
          collected.append(buffer, static_cast<size_t>(got));
      } else {
        ssize_t put = send(writeFd, input.data() + written, input.size() - written,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0 && errno != EAGAIN) {
          writeOpen = false;
        } else if (put > 0) {
          written += static_cast<size_t>(put);
          if (written == input.size()) {
            shutdown(writeFd, SHUT_WR);
            writeOpen = false;
          }
        }
      }
    }
  }
  close(writeFd);
  close(readFd);
  int status = 0;
  pid_t done = 0;
  while (std::chrono::steady_clock::now() < deadline &&
         (done = waitpid(pid, &status, WNOHANG)) == 0)
    usleep(5000);
  if (done != pid) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
  }
  if (output) *output = collected;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ToUnixLines(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
  return out;
}

class SystemClipboardImpl : public Clipboard {
 public:
  bool Read(const std::string& fileDir, std::string* text) override {
    std::string utf8;
    bool fromTool = false;
    if (Set("TMUX") && OnPath("tmux"))
      fromTool = RunTool({"tmux", "save-buffer", "-"}, "", &utf8);
    else if (Set("WAYLAND_DISPLAY") && OnPath("wl-paste"))
      fromTool = RunTool({"wl-paste", "-n"}, "", &utf8);
    else if (Set("DISPLAY") && OnPath("xclip"))
      fromTool = RunTool({"xclip", "-selection", "clipboard", "-o"}, "", &utf8);
    if (fromTool) {
      *text = Utf8ToCp850(ToUnixLines(utf8));
      return !text->empty();
    }
    return ReadClipboardFile(fileDir, text);
  }

  void Write(const std::string& fileDir, const std::string& text) override {
    WriteClipboardFile(fileDir, text);
    const std::string utf8 = Cp850ToUtf8(text);
    if (Set("TMUX") && OnPath("tmux")) {
      // -w also hands it on to the outer terminal.
      RunTool({"tmux", "load-buffer", "-w", "-"}, utf8, nullptr);
      return;
    }
    GetConsole().SendClipboard(utf8);
    if (Set("WAYLAND_DISPLAY") && OnPath("wl-copy"))
      RunTool({"wl-copy"}, utf8, nullptr);
    else if (Set("DISPLAY") && OnPath("xclip"))
      RunTool({"xclip", "-selection", "clipboard"}, utf8, nullptr);
  }
};

}  // namespace

Clipboard& SystemClipboard() {
  static SystemClipboardImpl clipboard;
  return clipboard;
}

}  // namespace kap
