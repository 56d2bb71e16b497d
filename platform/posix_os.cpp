// The POSIX implementation of Os: the suite's paths are mapped (backslashes, any case) before
// they reach the system, and "without sharing" is an advisory flock taken at open time.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/text.h"

extern char** environ;

namespace kap {

namespace {

thread_local OsError lastError = OsError::kNone;

// The one place where errno becomes an OsError.
bool Failed(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      lastError = OsError::kNoAccess;
      break;
    case ENOSPC:
    case EDQUOT:
      lastError = OsError::kNoSpace;
      break;
    case EROFS:
      lastError = OsError::kReadOnly;
      break;
    case ENOTDIR:
      lastError = OsError::kNotAFolder;
      break;
    case EISDIR:
      lastError = OsError::kNotAFile;
      break;
    case ENOENT:
      lastError = OsError::kMissing;
      break;
    case ELOOP:
      lastError = OsError::kLink;
      break;
    default:
      lastError = OsError::kOther;
      break;
  }
  return false;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == 0) return false;
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return b[i] == 0;
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// The entry of `dir` that equals `name` without regard to ASCII case; the smallest in byte
// order when several do, so the choice does not depend on the listing order.
bool FindIgnoringCase(const std::string& dir, const std::string& name, std::string* found) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  bool any = false;
  while (dirent* e = ::readdir(d)) {
    if (!SameIgnoringCase(name, e->d_name)) continue;
    if (!any || *found > e->d_name) *found = e->d_name;
    any = true;
  }
  ::closedir(d);
  return any;
}

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }  // also releases the flock

  bool ReadAt(int64_t offset, size_t size, std::string* out) override {
    out->clear();
    if (offset < 0) return false;
    // Never allocate more than the file can give, whatever size the caller asks for.
    int64_t size_now = Size();
    if (size_now < 0) return false;
    if (offset >= size_now) return true;
    size_t want =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), size_now - offset));
    out->resize(want);
    size_t done = 0;
    while (done < want) {
      ssize_t n = ::pread(fd_, out->data() + done, want - done,
                          static_cast<off_t>(offset + static_cast<int64_t>(done)));
      if (n < 0) {
        if (errno == EINTR) continue;
        out->resize(done);
        return Failed(errno);
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    out->resize(done);
    return true;
  }

  bool WriteAt(int64_t offset, const std::string& bytes) override {
    if (offset < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                           static_cast<off_t>(offset + static_cast<int64_t>(done)));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Failed(errno);
      }
      done += static_cast<size_t>(n);
    }
    return true;
  }

  int64_t Size() override {
    struct stat info;
    if (::fstat(fd_, &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
  }

  bool Truncate(int64_t size) override {
    return size >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }

  // Marks are open-file-description locks: they belong to this open, not to the process, so
  // closing another descriptor of the file keeps them, and they vanish when the process dies.
  bool MarksSupported() override { return true; }
  bool HoldMark(int64_t offset) override { return MarkLock(F_OFD_SETLK, F_RDLCK, offset); }
  void ReleaseMark(int64_t offset) override { MarkLock(F_OFD_SETLK, F_UNLCK, offset); }
  bool MarkHeldElsewhere(int64_t offset) override {
    struct flock probe = MarkRange(F_WRLCK, offset);
    // A failed probe counts as held: a holder must never be taken for dead.
    if (::fcntl(fd_, F_OFD_GETLK, &probe) != 0) return true;
    return probe.l_type != F_UNLCK;
  }

 private:
  static struct flock MarkRange(short type, int64_t offset) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(offset);
    range.l_len = 1;
    return range;
  }
  bool MarkLock(int command, short type, int64_t offset) {
    if (offset < 0) return false;
    struct flock range = MarkRange(type, offset);
    int rc;
    do {
      rc = ::fcntl(fd_, command, &range);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 || Failed(errno);
  }

  int fd_;
};

class PosixOsImpl : public Os {
 public:
  PosixOsImpl() {
    // Different processes started together must not draw the same waits.
    auto now = std::chrono::system_clock::now().time_since_epoch().count();
    random_.seed(static_cast<uint32_t>(now) ^ static_cast<uint32_t>(::getpid() * 2654435761u));
  }

  std::string GetEnv(const std::string& name) override {
    // TERM names the terminal type on POSIX; the suite's terminal folder lives in KAPTERM.
    const char* value = std::getenv(name == "TERM" ? "KAPTERM" : name.c_str());
    return value ? value : "";
  }

  std::string CurrentDir() override {
    std::vector<char> buffer(PATH_MAX + 1);
    if (!::getcwd(buffer.data(), buffer.size())) return "";
    return buffer.data();
  }

  bool ChangeDir(const std::string& path) override { return ::chdir(MapPath(path).c_str()) == 0; }

  bool MakeDir(const std::string& path) override {
    std::string mapped = MapPath(path);
    if (::mkdir(mapped.c_str(), 0777) == 0) return true;
    const int error = errno;
    struct stat info;
    if (error == EEXIST && ::stat(mapped.c_str(), &info) == 0) {
      return S_ISDIR(info.st_mode) || Failed(ENOTDIR);
    }
    return Failed(error);
  }

  std::string MapPath(const std::string& path) override {
    std::string slashed = path;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    if (slashed.empty() || Exists(slashed)) return slashed;
    // Walk the components, keeping the separators exactly as written.
    std::string out;
    size_t start = 0;
    bool resolvable = true;
    while (start <= slashed.size()) {
      size_t end = slashed.find('/', start);
      if (end == std::string::npos) end = slashed.size();
      std::string part = slashed.substr(start, end - start);
      if (resolvable && !part.empty() && part != "." && part != ".." && !Exists(out + part)) {
        std::string found;
        if (FindIgnoringCase(out, part, &found)) {
          part = found;
        } else {
          resolvable = false;  // nothing below a missing component can exist
        }
      }
      out += part;
      if (end == slashed.size()) break;
      out += '/';
      start = end + 1;
    }
    return out;
  }

  std::unique_ptr<File> OpenFile(const std::string& path, bool create, bool readOnly,
                                 Sharing sharing, OpenResult* result) override {
    OpenResult ignored;
    if (!result) result = &ignored;
    std::string mapped = MapPath(path);
    int flags = (readOnly ? O_RDONLY : O_RDWR | O_NOFOLLOW) | O_CLOEXEC;
    if (create) flags |= O_CREAT;
    int fd;
    do {
      fd = ::open(mapped.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      Failed(errno);
      *result = (errno == ENOTDIR || (errno == ENOENT && !ParentExists(mapped)))
                    ? OpenResult::kPathMissing
                    : OpenResult::kFailed;
      return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      Failed(EISDIR);
      *result = OpenResult::kFailed;
      return nullptr;
    }
    // Shared opens take a shared lock so that they, too, keep an exclusive opener out (and are
    // kept out by one), as a file opened without sharing behaves.
    int lock = (sharing == Sharing::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int rc;
    do {
      rc = ::flock(fd, lock);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      bool busy = errno == EWOULDBLOCK;
      Failed(errno);
      ::close(fd);
      *result = busy ? OpenResult::kBusy : OpenResult::kFailed;
      return nullptr;
    }
    *result = OpenResult::kOk;
    return std::make_unique<PosixFile>(fd);
  }

  int AppendFile(const std::string& path, const std::string& bytes) override {
    int fd;
    do {
      fd = ::open(MapPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                  0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    ssize_t put;
    do {
      put = ::write(fd, bytes.data(), bytes.size());
    } while (put < 0 && errno == EINTR);
    int error = put < 0 ? errno : put != static_cast<ssize_t>(bytes.size()) ? ENOSPC : 0;
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
  }

  bool RemoveFile(const std::string& path) override { return ::unlink(MapPath(path).c_str()) == 0; }

  bool FileExists(const std::string& path) override { return Exists(MapPath(path)); }

  OsError LastError() override { return lastError; }

  std::vector<std::string> ListFiles(const std::string& folder) override {
    std::vector<std::string> names;
    const std::string mapped = MapPath(folder);
    DIR* d = ::opendir(mapped.empty() ? "." : mapped.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
      struct stat info;
      const std::string path =
          mapped + (mapped.empty() || mapped.back() == '/' ? "" : "/") + e->d_name;
      if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.push_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  LocalTime Now() override {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    time_t seconds = ts.tv_sec;
    tm parts{};
    ::localtime_r(&seconds, &parts);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = std::min(parts.tm_sec, 59);  // a leap second reads as :59
    t.hundredths = static_cast<int>(ts.tv_nsec / 10000000);
    return t;
  }

  void SleepMs(int milliseconds) override {
    BeforeWait();
    if (milliseconds <= 0) return;
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  double Random() override {
    // 32 random bits scaled: always below 1.
    return static_cast<double>(random_()) / 4294967296.0;
  }

  void SeedRandom(uint32_t seed) override { random_.seed(seed); }

  std::string ComputerName() override {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return "";
    std::string name = buffer;
    if (name.size() > 15) name.resize(15);
    return name;
  }

  int RunCommandInterpreter(const std::string& arguments) override {
    BeforeWait();
    // The suite writes "/C command words". Each word becomes one argument: no shell reads the
    // words, so a help topic's "AJUDA\X.HTM" arrives whole.
    std::vector<std::string> words;
    for (size_t at = 0; (at = arguments.find_first_not_of(' ', at)) != std::string::npos;) {
      size_t end = arguments.find(' ', at);
      words.push_back(arguments.substr(at, end == std::string::npos ? end : end - at));
      at = end;
    }
    // With COMSPEC the interpreter gets the suite's words as they are, "/C" included; without
    // it the command after "/C" is started directly.
    const std::string comspec = GetEnv("COMSPEC");
    std::vector<std::string> argv;
    if (!comspec.empty()) {
      argv.push_back(FindProgram(comspec));
      argv.insert(argv.end(), words.begin(), words.end());
    } else {
      if (!words.empty() && (words[0] == "/C" || words[0] == "/c")) words.erase(words.begin());
      if (words.empty()) return -1;
      argv = words;
      argv[0] = FindProgram(words[0]);
    }
    if (argv[0].empty()) return -1;
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    pid_t pid;
    if (::posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, raw.data(), environ) != 0) {
      return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  }

 private:
  // A program to start: an absolute path, or a bare name found in an absolute folder of PATH.
  // Never a path taken from the current folder, where anyone who can write there may plant
  // one. "" when there is no such program.
  std::string FindProgram(const std::string& name) {
    auto runnable = [](const std::string& path) {
      struct stat info;
      return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
             ::access(path.c_str(), X_OK) == 0;
    };
    if (name.empty()) return "";
    if (name[0] == '/') {
      const std::string mapped = MapPath(name);
      return runnable(mapped) ? mapped : "";
    }
    if (name.find_first_of("/\\") != std::string::npos) return "";
    const std::string path = GetEnv("PATH");
    for (size_t at = 0; at <= path.size();) {
      size_t end = path.find(':', at);
      if (end == std::string::npos) end = path.size();
      const std::string folder = path.substr(at, end - at);
      if (!folder.empty() && folder[0] == '/' && runnable(folder + "/" + name))
        return folder + "/" + name;
      at = end + 1;
    }
    return "";
  }

  static bool ParentExists(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return true;  // the current directory
    std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    struct stat info;
    return ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  std::mt19937 random_;
};

}  // namespace

Os& PosixOs() {
  // Never destroyed: files may still be closed from other static destructors.
  static Os* os = new PosixOsImpl();
  return *os;
}

}  // namespace kap
