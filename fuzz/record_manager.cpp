// The record manager under fuzzed operation sequences: a file made from a fuzzed creation
// block, then operations with fuzzed keys, lengths, key numbers and records. The buffers are
// always as large as the lengths passed say, as the entry point requires.
#include <array>
#include <cstdio>
#include <string>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::fuzz::Input input(data, size);
  const std::string path = kap::fuzz::ScratchFolder() + "FUZZ.DAT";
  std::remove(path.c_str());
  std::array<char, kap::rm::kPositionBlockSize> block{};
  std::array<char, 8192> buffer{};
  std::array<char, 256> key{};

  // Creation block: a length byte, then that many bytes (record length, page size, keys...).
  const size_t specLength = input.Byte();
  std::string spec;
  for (size_t i = 0; i < specLength && !input.Empty(); ++i)
    spec.push_back(static_cast<char>(input.Byte()));
  spec.copy(buffer.data(), spec.size());
  uint32_t length = static_cast<uint32_t>(spec.size());
  path.copy(key.data(), path.size());
  kap::BTRCALL(kap::rm::kCreate, block.data(), buffer.data(), &length, key.data(),
               static_cast<uint8_t>(path.size()), -1);
  length = 5;
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
  std::remove(path.c_str());
  return 0;
}
