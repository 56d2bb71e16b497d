// Fault injection for the OS layer: an Os that fails its Nth call (counting opens, folder
// creations, reads, writes and truncations of the files it opened), for sweeps that fail call
// 1, 2, 3, ... in turn and require each run to end in success or a clean error.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/os.h"

namespace kap::test {

class FailingOs : public OsWrapper {
 public:
  explicit FailingOs(Os* target) : OsWrapper(target) {}

  // Fails call `n` (from 1) of the next ones; 0 fails nothing. Resets the count.
  void FailCall(int n) {
    failAt_ = n;
    calls_ = 0;
  }
  // Calls counted since the last FailCall; a sweep is complete once a run with nothing failed
  // made fewer calls than the one it was told to fail.
  int calls() const { return calls_; }
  bool failed() const { return failAt_ > 0 && calls_ >= failAt_; }

  std::unique_ptr<File> OpenFile(const std::string& path, bool create, bool readOnly,
                                 Sharing sharing, OpenResult* result) override {
    if (Fails()) {
      if (result) *result = OpenResult::kFailed;
      return nullptr;
    }
    auto file = OsWrapper::OpenFile(path, create, readOnly, sharing, result);
    if (!file) return nullptr;
    return std::make_unique<FailingFile>(std::move(file), this);
  }
  std::unique_ptr<File> AdoptFile(std::unique_ptr<File> file) override {
    if (Fails()) return nullptr;
    file = OsWrapper::AdoptFile(std::move(file));
    if (!file) return nullptr;
    return std::make_unique<FailingFile>(std::move(file), this);
  }
  bool MakeDir(const std::string& path) override { return !Fails() && OsWrapper::MakeDir(path); }
  bool RemoveFile(const std::string& path) override {
    return !Fails() && OsWrapper::RemoveFile(path);
  }

 private:
  class FailingFile : public File {
   public:
    FailingFile(std::unique_ptr<File> file, FailingOs* os) : file_(std::move(file)), os_(os) {}
    bool ReadAt(int64_t offset, size_t size, std::string* out) override {
      return !os_->Fails() && file_->ReadAt(offset, size, out);
    }
    bool WriteAt(int64_t offset, const std::string& bytes) override {
      return !os_->Fails() && file_->WriteAt(offset, bytes);
    }
    int64_t Size() override { return file_->Size(); }
    bool Truncate(int64_t size) override { return !os_->Fails() && file_->Truncate(size); }

   private:
    std::unique_ptr<File> file_;
    FailingOs* os_;
  };

  bool Fails() { return ++calls_ == failAt_; }

  int failAt_ = 0;
  int calls_ = 0;
};

}  // namespace kap::test
