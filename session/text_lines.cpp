#include "session/text_lines.h"

#include <algorithm>
#include <cstring>

namespace kap::session_detail {

namespace {
constexpr size_t kChunk = 64 * 1024;
}

bool TextLines::Fill() {
  if (eof_ || !file_) return false;
  std::string chunk;
  if (!file_->ReadAt(offset_, kChunk, &chunk) || chunk.empty()) {
    eof_ = true;
    return false;
  }
  offset_ += static_cast<int64_t>(chunk.size());
  buffer_.erase(0, pos_);
  pos_ = 0;
  buffer_ += chunk;
  return true;
}

bool TextLines::Next(std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    if (pos_ >= buffer_.size() && !Fill()) return any;
    any = true;
    const char* start = buffer_.data() + pos_;
    size_t left = buffer_.size() - pos_;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', left));
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', lf ? lf - start : left));
    const char* end = cr ? cr : lf;
    size_t take = end ? static_cast<size_t>(end - start) : left;
    if (line->size() < kMaxLine) line->append(start, std::min(take, kMaxLine - line->size()));
    pos_ += take;
    if (!end) continue;  // the line goes on in the next chunk
    ++pos_;
    if (end == cr) {
      // A CR LF pair is one line end, even when the LF is in the next chunk.
      if (pos_ >= buffer_.size()) Fill();
      if (pos_ < buffer_.size() && buffer_[pos_] == '\n') ++pos_;
    }
    return true;
  }
}

bool TextLines::AtEnd() {
  if (pos_ < buffer_.size()) return false;
  return !Fill();
}

}  // namespace kap::session_detail
