// What every harness shares: a folder of its own for the files it writes, and a reader that
// cuts the fuzzer's bytes into pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kap::fuzz {

// A private folder made once per process under $TMPDIR (or /tmp) and removed at exit; a
// harness writes nothing outside it.
const std::string& ScratchFolder();
// Writes `bytes` to `name` inside the scratch folder and returns the full path.
std::string WriteScratchFile(const std::string& name, const std::string& bytes);
// The whole file at `path`, "" when it is missing.
std::string ReadScratchFile(const std::string& path);

// Takes the input apart: small numbers and strings first, the rest as one piece.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return size_ ? (--size_, *data_++) : 0; }
  // Up to `limit` bytes, ended early by a NUL (which is consumed).
  std::string Text(size_t limit) {
    std::string out;
    while (size_ && out.size() < limit) {
      char c = static_cast<char>(Byte());
      if (c == 0) break;
      out.push_back(c);
    }
    return out;
  }
  // A piece of any bytes: a two-byte length (low byte first), cut to `limit`, then the bytes.
  std::string Sized(size_t limit) {
    size_t length = Byte();
    length |= static_cast<size_t>(Byte()) << 8;
    if (length > limit) length = limit;
    if (length > size_) length = size_;
    std::string out(reinterpret_cast<const char*>(data_), length);
    data_ += length;
    size_ -= length;
    return out;
  }
  std::string Rest() {
    std::string out(reinterpret_cast<const char*>(data_), size_);
    data_ += size_;
    size_ = 0;
    return out;
  }
  bool Empty() const { return size_ == 0; }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace kap::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
