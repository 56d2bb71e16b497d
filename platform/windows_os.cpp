// The Windows implementation of Os. Paths go to the system as the suite writes them (Windows
// takes `\` and any case itself); "without sharing" is the share mode of CreateFile, so every
// other open of the file fails while it is held, the semantics the lock files were made for.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/windows_internal.h"

namespace kap {

namespace {

thread_local OsError lastError = OsError::kNone;

// The one place where a Windows error becomes an OsError. Windows answers "access denied" for
// a folder opened as a file, so the path tells the two apart.
bool Failed(DWORD error, const std::string& path = "");

class WindowsFile : public File {
 public:
  explicit WindowsFile(HANDLE handle) : handle_(handle) {}
  ~WindowsFile() override { ::CloseHandle(handle_); }  // also ends the exclusive hold

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
      OVERLAPPED o = OverlappedAt(offset + static_cast<int64_t>(done));
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(want - done, 1u << 30));
      DWORD got = 0;
      if (!::ReadFile(handle_, out->data() + done, chunk, &got, &o)) {
        out->resize(done);
        return ::GetLastError() == ERROR_HANDLE_EOF;
      }
      if (got == 0) break;
      done += got;
    }
    out->resize(done);
    return true;
  }

  bool WriteAt(int64_t offset, const std::string& bytes) override {
    if (offset < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
      OVERLAPPED o = OverlappedAt(offset + static_cast<int64_t>(done));
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
      DWORD put = 0;
      if (!::WriteFile(handle_, bytes.data() + done, chunk, &put, &o))
        return Failed(::GetLastError());
      if (put == 0) return Failed(ERROR_HANDLE_DISK_FULL);
      done += put;
    }
    return true;
  }

  int64_t Size() override {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_, &size)) return -1;
    return size.QuadPart;
  }

  bool Truncate(int64_t size) override {
    if (size < 0) return false;
    LARGE_INTEGER to;
    to.QuadPart = size;
    return ::SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle_);
  }

  // Windows byte locks cannot report who holds them, and a lock blocks every other handle,
  // this process's too, so a mark is a row of slots: each holder takes one slot exclusively
  // (picked from its process id, then the next free one) and a probe locks the rest of the row
  // shared in one call, which fails while any other holder is in it (probes never block each
  // other). The system drops the locks when the process ends, however it ends.
  bool MarksSupported() override { return true; }

  bool HoldMark(int64_t number) override {
    if (number < 0 || number > kMaxMarkNumber) return false;
    if (slots_.count(number)) return true;
    // Windows process ids are multiples of four.
    const int first = static_cast<int>(::GetCurrentProcessId() / 4 % kMarkSlots);
    // A probe of another process holds the whole row for a moment: every slot then looks
    // taken, so a full row is asked again a few times before it counts as full.
    for (int round = 0; round < kHoldRounds; ++round) {
      if (round > 0) ::Sleep(1);
      for (int i = 0; i < kMarkSlots; ++i) {
        const int slot = (first + i) % kMarkSlots;
        if (TryLockRange(handle_, number * kMarkSlots + slot, 1, true)) {
          slots_[number] = slot;
          return true;
        }
        if (::GetLastError() != ERROR_LOCK_VIOLATION) return Failed(::GetLastError());
      }
    }
    return Failed(ERROR_LOCK_VIOLATION);  // too many holders of one mark
  }

  void ReleaseMark(int64_t number) override {
    auto held = slots_.find(number);
    if (held == slots_.end()) return;
    UnlockRange(handle_, number * kMarkSlots + held->second, 1);
    slots_.erase(held);
  }

  bool MarkHeldElsewhere(int64_t number) override {
    if (number < 0 || number > kMaxMarkNumber) return false;
    const int64_t row = number * kMarkSlots;
    auto own = slots_.find(number);
    if (own == slots_.end()) return !RowFree(row, kMarkSlots);
    // Around this open's own slot: the slots before it, then those after it.
    const int slot = own->second;
    return !RowFree(row, slot) || !RowFree(row + slot + 1, kMarkSlots - slot - 1);
  }

 private:
  static constexpr int kMarkSlots = 64;
  static constexpr int kHoldRounds = 20;
  static constexpr int64_t kMaxMarkNumber = INT64_MAX / kMarkSlots - 1;

  // True when no other open holds a slot in [from, from + length). A failed probe counts as
  // held: a holder must never be taken for dead.
  bool RowFree(int64_t from, int length) {
    return length == 0 || NoExclusiveLockIn(handle_, from, length);
  }

  HANDLE handle_;
  std::map<int64_t, int> slots_;  // mark number -> the slot this open holds
};

bool IsDirectory(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ParentExists(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return true;  // the current directory
  std::string parent = path.substr(0, slash + 1);
  if (parent.size() == 3 && parent[1] == ':') return true;  // a drive's root
  return IsDirectory(slash == 0 ? parent : path.substr(0, slash));
}

bool Failed(DWORD error, const std::string& path) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      lastError = !path.empty() && IsDirectory(path) ? OsError::kNotAFile : OsError::kNoAccess;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      lastError = OsError::kNoSpace;
      break;
    case ERROR_WRITE_PROTECT:
      lastError = OsError::kReadOnly;
      break;
    case ERROR_DIRECTORY:
      lastError = OsError::kNotAFolder;
      break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      lastError = OsError::kMissing;
      break;
    default:
      lastError = OsError::kOther;
      break;
  }
  return false;
}

class WindowsOsImpl : public Os {
 public:
  WindowsOsImpl() {
    // Different processes started together must not draw the same waits.
    auto now = std::chrono::system_clock::now().time_since_epoch().count();
    random_.seed(static_cast<uint32_t>(now) ^
                 (static_cast<uint32_t>(::GetCurrentProcessId()) * 2654435761u));
  }

  std::string GetEnv(const std::string& name) override {
    // The suite's own names, TERM included (the terminal folder on Windows).
    DWORD needed = ::GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (needed == 0) return "";
    std::string value(needed, '\0');
    DWORD got = ::GetEnvironmentVariableA(name.c_str(), value.data(), needed);
    value.resize(got < needed ? got : 0);
    return value;
  }

  std::string CurrentDir() override {
    DWORD needed = ::GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return "";
    std::string dir(needed, '\0');
    DWORD got = ::GetCurrentDirectoryA(needed, dir.data());
    dir.resize(got < needed ? got : 0);
    return dir;
  }

  bool ChangeDir(const std::string& path) override {
    return ::SetCurrentDirectoryA(MapPath(path).c_str()) != 0;
  }

  bool MakeDir(const std::string& path) override {
    std::string mapped = MapPath(path);
    if (::CreateDirectoryA(mapped.c_str(), nullptr)) return true;
    DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return IsDirectory(mapped) || Failed(ERROR_DIRECTORY);
    return Failed(error, mapped);
  }

  // Windows resolves `\` and `/` and any case itself; the path stays as written.
  std::string MapPath(const std::string& path) override { return path; }

  std::unique_ptr<File> OpenFile(const std::string& path, bool create, bool readOnly,
                                 Sharing sharing, OpenResult* result) override {
    OpenResult ignored;
    if (!result) result = &ignored;
    std::string mapped = MapPath(path);
    DWORD access = GENERIC_READ | (readOnly ? 0 : GENERIC_WRITE);
    // Shared opens let each other in but keep an exclusive opener out (and are kept out by
    // one); a file opened without sharing keeps every other open out.
    DWORD share =
        sharing == Sharing::kExclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = ::CreateFileA(mapped.c_str(), access, share, nullptr,
                             create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD error = ::GetLastError();
      Failed(error, mapped);
      if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        *result = OpenResult::kBusy;
      } else if (error == ERROR_PATH_NOT_FOUND ||
                 (error == ERROR_FILE_NOT_FOUND && !ParentExists(mapped))) {
        *result = OpenResult::kPathMissing;
      } else {
        *result = OpenResult::kFailed;
      }
      return nullptr;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      lastError = OsError::kNotAFile;
      *result = OpenResult::kFailed;
      return nullptr;
    }
    *result = OpenResult::kOk;
    return std::make_unique<WindowsFile>(h);
  }

  int AppendFile(const std::string& path, const std::string& bytes) override {
    HANDLE h = ::CreateFileA(MapPath(path).c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD error = ::GetLastError();
      if (error == ERROR_ACCESS_DENIED) return IsDirectory(MapPath(path)) ? EISDIR : EACCES;
      return error == ERROR_PATH_NOT_FOUND ? ENOENT : EIO;
    }
    DWORD put = 0;
    bool ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
              put == bytes.size();
    DWORD error = ok ? 0 : ::GetLastError();
    ::CloseHandle(h);
    if (ok) return 0;
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO;
  }

  bool RemoveFile(const std::string& path) override {
    return ::DeleteFileA(MapPath(path).c_str()) != 0;
  }

  bool FileExists(const std::string& path) override {
    return ::GetFileAttributesA(MapPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  OsError LastError() override { return lastError; }

  std::vector<std::string> ListFiles(const std::string& folder) override {
    std::vector<std::string> names;
    std::string pattern = MapPath(folder);
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((pattern + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
  }

  LocalTime Now() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    LocalTime t;
    t.year = now.wYear;
    t.month = now.wMonth;
    t.day = now.wDay;
    t.hour = now.wHour;
    t.minute = now.wMinute;
    t.second = std::min<int>(now.wSecond, 59);
    t.hundredths = now.wMilliseconds / 10;
    return t;
  }

  void SleepMs(int milliseconds) override {
    BeforeWait();
    if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
  }

  double Random() override { return static_cast<double>(random_()) / 4294967296.0; }

  void SeedRandom(uint32_t seed) override { random_.seed(seed); }

  std::string ComputerName() override {
    char buffer[17] = {};  // MAX_COMPUTERNAME_LENGTH + 1, as the suite asks for it
    DWORD size = sizeof buffer;
    if (!::GetComputerNameA(buffer, &size)) return "";
    std::string name(buffer, size);
    if (name.size() > 15) name.resize(15);
    return name;
  }

  int RunCommandInterpreter(const std::string& arguments) override {
    BeforeWait();
    // The interpreter takes the suite's switches itself ("/C command"). It is named by an
    // absolute path or found in an absolute folder of PATH, never looked for in the current
    // folder (where CreateProcess would search first).
    std::string shell = GetEnv("COMSPEC");
    if (shell.empty()) {
      char system[MAX_PATH] = {};
      UINT n = ::GetSystemDirectoryA(system, MAX_PATH);
      if (n == 0 || n >= MAX_PATH) return -1;
      shell = std::string(system) + "\\cmd.exe";
    }
    shell = FindProgram(shell);
    if (shell.empty()) return -1;
    std::string line = "\"" + shell + "\"";
    size_t first = arguments.find_first_not_of(' ');
    if (first != std::string::npos) line += " " + arguments.substr(first);
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(shell.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process)) {
      return -1;
    }
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    bool ok = ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    return ok ? static_cast<int>(code) : -1;
  }

 private:
  // An absolute path ("C:\...", "\\server\...") as it is; a bare name in an absolute folder
  // of PATH, with ".exe" when it has no extension; "" otherwise.
  std::string FindProgram(const std::string& name) {
    auto absolute = [](const std::string& p) {
      return (p.size() > 2 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) ||
             (p.size() > 1 && (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/'));
    };
    auto runnable = [](const std::string& p) {
      DWORD attributes = ::GetFileAttributesA(p.c_str());
      return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    if (absolute(name)) return runnable(name) ? name : "";
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos) return "";
    const std::string file = name.find('.') == std::string::npos ? name + ".exe" : name;
    const std::string path = GetEnv("PATH");
    for (size_t at = 0; at <= path.size();) {
      size_t end = path.find(';', at);
      if (end == std::string::npos) end = path.size();
      std::string folder = path.substr(at, end - at);
      if (absolute(folder)) {
        if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
        if (runnable(folder + file)) return folder + file;
      }
      at = end + 1;
    }
    return "";
  }

  std::mt19937 random_;
};

}  // namespace

Os& WindowsOs() {
  // Never destroyed: files may still be closed from other static destructors.
  static Os* os = new WindowsOsImpl();
  return *os;
}

Os& PosixOs() { return WindowsOs(); }

}  // namespace kap
