// Operating-system services of the platform layer: environment, directories, files opened
// shared or exclusively, local time, sleep, random numbers, the computer name and the command
// interpreter. Everything the OS decides goes through `Os`, so tests can replace one call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kap {

// Why the last failed call of the OS layer failed, in the few classes an operator can act on.
enum class OsError {
  kNone,
  kNoAccess,    // permission denied
  kNoSpace,     // disk or quota full
  kReadOnly,    // read-only file system
  kNotAFolder,  // a part of the path is a file
  kNotAFile,    // the path is a folder or a device
  kMissing,     // a folder of the path does not exist
  kLink,        // a file to be written is a symbolic link, which is never followed
  kOther,
};

// An open file. Offsets count from 0. Closing (destruction) releases an exclusive lock.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes at `offset` into `out` (shorter at the end of the file).
  virtual bool ReadAt(int64_t offset, size_t size, std::string* out) = 0;
  virtual bool WriteAt(int64_t offset, const std::string& bytes) = 0;
  virtual int64_t Size() = 0;
  virtual bool Truncate(int64_t size) = 0;

  // Process marks: shared one-byte locks at an offset (the file need not reach it) that the
  // system drops when the process ends, however it ends. Any number of opens may hold the same
  // mark. A file that cannot carry marks answers false to MarksSupported and to HoldMark.
  virtual bool MarksSupported() { return false; }
  virtual bool HoldMark(int64_t /*offset*/) { return false; }
  virtual void ReleaseMark(int64_t /*offset*/) {}
  // True when another open of the file, in this process or another, holds the mark.
  virtual bool MarkHeldElsewhere(int64_t /*offset*/) { return false; }
};

enum class Sharing {
  // Other shared opens may hold the file at the same time; an exclusive holder keeps it out
  // (kBusy), as a file opened without sharing keeps every other open out.
  kShared,
  // "Without sharing": every other open of the file, in this process or another, fails at once
  // with kBusy while this one is held. The lock goes with the File or the process.
  kExclusive,
};

enum class OpenResult {
  kOk,
  kPathMissing,  // a directory of the path does not exist
  kBusy,         // another process holds the file exclusively
  kFailed,       // anything else (no access, not a file, ...)
};

struct LocalTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, hundredths = 0;
};

class Os {
 public:
  virtual ~Os() = default;

  // Environment variable, "" when unset. On POSIX the suite's `TERM` (the terminal directory)
  // is read from KAPTERM, because TERM names the terminal type there.
  virtual std::string GetEnv(const std::string& name) = 0;
  virtual std::string CurrentDir() = 0;
  virtual bool ChangeDir(const std::string& path) = 0;
  // True when the folder was created or already exists; its parent must exist.
  virtual bool MakeDir(const std::string& path) = 0;
  // Turns a path written the suite's way (`\` separators, names in any case) into the path of
  // the file on this system: `\` becomes `/`, and each component that does not exist exactly
  // is matched without regard to case; a component that matches nothing keeps its case.
  virtual std::string MapPath(const std::string& path) = 0;
  // Opens (and with `create`, creates) a file for reading and writing, or only reading when
  // `readOnly`. Returns null with the reason in `result` when it fails. A file opened for
  // writing that is a symbolic link is refused (OsError::kLink): whoever can write a shared or
  // terminal folder could otherwise point the program's writes at any file its user may write.
  virtual std::unique_ptr<File> OpenFile(const std::string& path, bool create, bool readOnly,
                                         Sharing sharing, OpenResult* result) = 0;
  // Every path argument (here and above) is mapped with MapPath first, so callers pass the
  // suite's paths as written.
  virtual bool RemoveFile(const std::string& path) = 0;
  // True when anything (file or folder) exists at the path.
  virtual bool FileExists(const std::string& path) = 0;
  virtual LocalTime Now() = 0;
  // Implementations call BeforeWait() first, here and in RunCommandInterpreter.
  virtual void SleepMs(int milliseconds) = 0;
  // Pseudo-random value in [0, 1).
  virtual double Random() = 0;
  virtual void SeedRandom(uint32_t seed) = 0;
  // The computer name, at most 15 characters; "" when it cannot be read.
  virtual std::string ComputerName() = 0;
  // Appends `bytes` to the end of a file, creating it when missing, in one write that other
  // appenders cannot interleave; a symbolic link is refused. Returns 0, or the errno value of
  // the failure (ELOOP for a link).
  virtual int AppendFile(const std::string& path, const std::string& bytes) = 0;
  // Runs the command interpreter named by COMSPEC with `arguments` ("/C command words") and
  // waits for it; returns its exit status (128 + signal when a signal ended it), -1 when it
  // could not be started. The interpreter is an absolute path or a bare name found in an
  // absolute folder of PATH, never a file of the current folder. On POSIX each word is one
  // argument (no shell reads them) and, without COMSPEC, the command after "/C" is started
  // directly; on Windows the default is the system folder's cmd.exe.
  virtual int RunCommandInterpreter(const std::string& arguments) = 0;
  // Why the last failed open, folder creation, read or write of this thread failed.
  virtual OsError LastError() { return OsError::kOther; }
  // Names of the plain files in a folder (mapped like every path), empty when it cannot be read.
  virtual std::vector<std::string> ListFiles(const std::string& /*folder*/) { return {}; }
  // A file kept elsewhere than on this disk (a lock file on the data server), handed to the Os
  // so that every file the program works on passes one place, as OpenFile's do: an Os standing
  // in front of this one sees it and may refuse it (nullptr) or wrap it.
  virtual std::unique_ptr<File> AdoptFile(std::unique_ptr<File> file) { return file; }
};

// Forwards every call to another Os, so a test fake overrides only what it needs.
class OsWrapper : public Os {
 public:
  explicit OsWrapper(Os* target) : target_(target) {}
  std::string GetEnv(const std::string& n) override { return target_->GetEnv(n); }
  std::string CurrentDir() override { return target_->CurrentDir(); }
  bool ChangeDir(const std::string& p) override { return target_->ChangeDir(p); }
  bool MakeDir(const std::string& p) override { return target_->MakeDir(p); }
  std::string MapPath(const std::string& p) override { return target_->MapPath(p); }
  std::unique_ptr<File> OpenFile(const std::string& p, bool c, bool r, Sharing s,
                                 OpenResult* res) override {
    return target_->OpenFile(p, c, r, s, res);
  }
  bool RemoveFile(const std::string& p) override { return target_->RemoveFile(p); }
  bool FileExists(const std::string& p) override { return target_->FileExists(p); }
  LocalTime Now() override { return target_->Now(); }
  void SleepMs(int ms) override { target_->SleepMs(ms); }
  double Random() override { return target_->Random(); }
  void SeedRandom(uint32_t s) override { target_->SeedRandom(s); }
  std::string ComputerName() override { return target_->ComputerName(); }
  int AppendFile(const std::string& p, const std::string& b) override {
    return target_->AppendFile(p, b);
  }
  int RunCommandInterpreter(const std::string& a) override {
    return target_->RunCommandInterpreter(a);
  }
  OsError LastError() override { return target_->LastError(); }
  std::vector<std::string> ListFiles(const std::string& f) override {
    return target_->ListFiles(f);
  }
  std::unique_ptr<File> AdoptFile(std::unique_ptr<File> f) override {
    return target_->AdoptFile(std::move(f));
  }
  Os* target() const { return target_; }

 private:
  Os* target_;
};

// Puts whatever the installed console holds on the terminal. Called before the process sleeps,
// waits on another process (a child, a lock, a busy file) or starts work that can take more than
// a moment, so the operator always sees the screen the program is waiting behind: the terminal
// console draws lazily, and a message shown just before a wait would otherwise stay unseen.
void BeforeWait();

// The process-wide Os: the POSIX one unless a test installed another.
Os& GetOs();
Os& PosixOs();
#ifdef _WIN32
// The Windows build's real Os, which GetOs() gives there; PosixOs() answers with it too, so
// code written against the system's Os (tests, benchmarks) runs unchanged.
Os& WindowsOs();
#endif
// Installs `os` (not owned); nullptr puts the POSIX one back.
void SetOs(Os* os);

}  // namespace kap
