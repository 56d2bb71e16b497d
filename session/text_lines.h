// Private to session/: reads a text file through the Os line by line.
#pragma once

#include <memory>
#include <string>

#include "platform/os.h"

namespace kap::session_detail {

// Lines end at LF, CR or CR LF; the last line needs no end. Bytes are taken as they are (a NUL
// is an ordinary character). A line longer than kMaxLine keeps only its first kMaxLine bytes, so
// a binary or runaway file cannot exhaust memory.
class TextLines {
 public:
  static constexpr size_t kMaxLine = 1 << 20;

  explicit TextLines(std::unique_ptr<File> file) : file_(std::move(file)) {}
  // False at the end of the file (or on a read error).
  bool Next(std::string* line);
  // True once Next has returned the last line, so the caller can tell a final line apart.
  bool AtEnd();

 private:
  bool Fill();

  std::unique_ptr<File> file_;
  std::string buffer_;
  size_t pos_ = 0;
  int64_t offset_ = 0;
  bool eof_ = false;
};

}  // namespace kap::session_detail
