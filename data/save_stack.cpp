// The save stack and the byte copies of record variables.
#include <algorithm>
#include <cstring>

#include "data/data_internal.h"
#include "platform/bytes.h"

namespace kap {

void PushSaved(const std::string& value) {
  std::string& stack = data::State().saveStack;
  // The length is a signed 16-bit number; longer values are kept cut to what it can say.
  size_t n = std::min<size_t>(value.size(), 32767);
  stack.append(value, 0, n);
  stack.append(2, '\0');
  PutLittleEndian16(&stack, stack.size() - 2, static_cast<uint16_t>(n));
}

std::string PopSaved() {
  std::string& stack = data::State().saveStack;
  if (stack.size() < 2) {  // more pops than pushes: nothing to give
    stack.clear();
    return "";
  }
  size_t n = LittleEndian16(stack, stack.size() - 2);
  stack.resize(stack.size() - 2);
  n = std::min(n, stack.size());
  std::string value = stack.substr(stack.size() - n);
  stack.resize(stack.size() - n);
  return value;
}

std::string RecordBytes(const void* address, size_t length) {
  if (address == nullptr) return "";
  return std::string(static_cast<const char*>(address), length);
}

void PutRecordBytes(const std::string& bytes, void* address) {
  if (address == nullptr || bytes.empty()) return;
  std::memcpy(address, bytes.data(), bytes.size());
}

}  // namespace kap
