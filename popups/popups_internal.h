// Limits shared by the calculator and its state file.
#pragma once

#include <cstdint>

namespace kap::calc {

constexpr int kTapeSlots = 22;
constexpr int kEmptyTape = 23;  // FirstTapeLine of an empty tape
constexpr int kFullTape = 2;    // the tape holds slots 2 to 22 at most
constexpr int kWindowWidth = 26;
constexpr int kLastWindowColumn = 55;  // the window's right edge then stands at column 80
constexpr int kScreenColumns = 80;
constexpr int kScreenRows = 25;
// The number picture keeps its point and one integer digit up to this many decimals.
constexpr int kMaxDecimals = 19;
constexpr int64_t kMaxStateFileSize = 64 * 1024;
// Operator characters a tape line or LastKey may carry, and the pending operators.
constexpr const char* kMarks = "+-*/=%R";
constexpr const char* kOperators = "+-*/";

}  // namespace kap::calc
