// The record manager under fuzzed operation sequences: a file made from a fuzzed creation
// block, then damaged by fuzzed bytes written into it, then operations with fuzzed keys,
// lengths, key numbers and records. The buffers are always as large as the lengths passed
// say, as the entry point requires. A file made from the same creation block as the run
// before is copied from that run's fresh file rather than created again: the same bytes, at a
// fraction of the cost.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/record_manager.h"

namespace {

constexpr int kOperations[] = {
    kap::rm::kInsert,         kap::rm::kUpdate,
    kap::rm::kDelete,         kap::rm::kGetEqual,
    kap::rm::kGetNext,        kap::rm::kGetPrevious,
    kap::rm::kGetGreater,     kap::rm::kGetGreaterOrEqual,
    kap::rm::kGetLess,        kap::rm::kGetLessOrEqual,
    kap::rm::kGetFirst,       kap::rm::kGetLast,
    kap::rm::kStat,           kap::rm::kBeginTransaction,
    kap::rm::kEndTransaction, kap::rm::kAbortTransaction,
    kap::rm::kGetPosition,    kap::rm::kGetDirect,
    kap::rm::kStepNext,       kap::rm::kStepFirst,
    kap::rm::kStepLast,       kap::rm::kStepPrevious,
    kap::rm::kUnlock,         kap::rm::kClose,
    kap::rm::kOpen,
};

struct Damage {
  size_t offset;
  std::string bytes;
};

void RemoveFile(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

// Makes the data file from `spec` as the create operation does, copying the fresh file of an
// earlier run made from the same block.
void MakeFile(const std::string& path, const std::string& spec, char* block, char* key) {
  static std::string madeFrom, fresh;
  static bool haveFresh = false;
  RemoveFile(path);
  if (haveFresh && spec == madeFrom) {
    kap::fuzz::WriteScratchFile("FUZZ.DAT", fresh);
    return;
  }
  std::string buffer = spec;
  uint32_t length = static_cast<uint32_t>(spec.size());
  path.copy(key, path.size());
  haveFresh = kap::BTRCALL(kap::rm::kCreate, block, buffer.data(), &length, key,
                           static_cast<uint8_t>(path.size()), -1) == kap::rm::kOk;
  madeFrom = spec;
  if (haveFresh) fresh = kap::fuzz::ReadScratchFile(path);
}

// Writes the damage into the file, each piece at its offset (taken modulo the file's size).
void WriteDamage(const std::string& path, const std::vector<Damage>& damage) {
  if (damage.empty()) return;
  std::string bytes = kap::fuzz::ReadScratchFile(path);
  if (bytes.empty()) return;
  for (const Damage& d : damage) {
    const size_t at = d.offset % bytes.size();
    bytes.replace(at, std::min(d.bytes.size(), bytes.size() - at), d.bytes);
  }
  kap::fuzz::WriteScratchFile("FUZZ.DAT", bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::SetDurableCommits(false);  // a scratch file need not survive a power cut
  kap::fuzz::Input input(data, size);
  const std::string path = kap::fuzz::ScratchFolder() + "FUZZ.DAT";
  std::array<char, kap::rm::kPositionBlockSize> block{};
  std::array<char, 8192> buffer{};
  std::array<char, 256> key{};

  // Damage first: a count, then for each an offset (two bytes) and the bytes written there.
  std::vector<Damage> damage(input.Byte() % 4);
  for (Damage& d : damage) {
    d.offset = input.Byte() | (input.Byte() << 8);
    d.offset = (d.offset << 4) | (input.Byte() & 15);
    d.bytes = input.Sized(16);
  }
  // Creation block: a length byte, then that many bytes (record length, page size, keys...).
  const size_t specLength = input.Byte();
  std::string spec;
  for (size_t i = 0; i < specLength && !input.Empty(); ++i)
    spec.push_back(static_cast<char>(input.Byte()));
  MakeFile(path, spec, block.data(), key.data());
  WriteDamage(path, damage);
  uint32_t length = 5;
  path.copy(key.data(), path.size());
  if (kap::BTRCALL(kap::rm::kOpen, block.data(), buffer.data(), &length, key.data(),
                   static_cast<uint8_t>(path.size()), 0) == kap::rm::kOk) {
    for (int steps = 0; steps < 64 && !input.Empty(); ++steps) {
      int operation = kOperations[input.Byte() % std::size(kOperations)];
      if (operation == kap::rm::kOpen) {
        length = 5;
        path.copy(key.data(), path.size());
        kap::BTRCALL(operation, block.data(), buffer.data(), &length, key.data(),
                     static_cast<uint8_t>(path.size()), 0);
        continue;
      }
      const int8_t keyNumber = static_cast<int8_t>(input.Byte() % 4);
      length = input.Byte() | (input.Byte() << 8);
      if (length > buffer.size()) length = buffer.size();
      const std::string record = input.Text(64);
      record.copy(buffer.data(), record.size());
      const std::string keyBytes = input.Text(32);
      keyBytes.copy(key.data(), keyBytes.size());
      const uint32_t capacity = length;
      kap::BTRCALL(operation, block.data(), buffer.data(), &length, key.data(), 255, keyNumber);
      if (length > capacity && capacity > 0) __builtin_trap();  // returned more than it may hold
    }
  }
  length = 0;
  kap::BTRCALL(kap::rm::kReset, block.data(), buffer.data(), &length, key.data(), 0, 0);
  return 0;
}
