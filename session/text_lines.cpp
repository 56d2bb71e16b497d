#include "session/text_lines.h"

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
    while (pos_ < buffer_.size()) {
      char c = buffer_[pos_++];
      if (c == '\n') return true;
      if (c == '\r') {
        // A CR LF pair is one line end, even when the LF is in the next chunk.
        if (pos_ >= buffer_.size()) Fill();
        if (pos_ < buffer_.size() && buffer_[pos_] == '\n') ++pos_;
        return true;
      }
      if (line->size() < kMaxLine) line->push_back(c);
    }
  }
}

bool TextLines::AtEnd() {
  if (pos_ < buffer_.size()) return false;
  return !Fill();
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string TrimSpaces(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace kap::session_detail
