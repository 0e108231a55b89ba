// The token reader's refills, rewinds and number parsing.
#include "tokens.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fatal.hpp"

namespace forests {

namespace {

constexpr std::size_t kChunk = 1 << 16;

}  // namespace

const bool TokenReader::kSpace[256] = {
    false, false, false, false, false, false, false, false, false, true,  true,  true,  true,  true,  false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    true,
};

TokenReader::TokenReader(std::FILE* file)
    : file_(file), buf_(kChunk), pipe_(file && std::fseek(file, 0, SEEK_CUR) != 0) {}

bool TokenReader::fill() {
  if (eof_) return false;
  if (!last_.empty() && last_.data() >= buf_.data() && last_.data() < buf_.data() + buf_.size()) {
    saved_.assign(last_);
    last_ = saved_;
  }
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
  std::size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, file_);
  if (got == 0) {
    eof_ = true;
    return false;
  }
  if (pipe_ && !replayed_) kept_.append(buf_.data() + end_, got);
  end_ += got;
  if (at_start_) {
    at_start_ = false;
    if (end_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
  }
  return true;
}

bool TokenReader::next_across_refill(std::string_view& token) {
  line_break_ = false;
  for (;;) {
    while (pos_ < end_ && is_space(buf_[pos_])) {
      if (buf_[pos_] == '\n' || buf_[pos_] == '\r') line_break_ = true;
      ++pos_;
    }
    if (pos_ < end_) break;
    if (!fill()) return false;
  }
  std::size_t scanned = pos_;
  for (;;) {
    while (scanned < end_ && !is_space(buf_[scanned])) ++scanned;
    if (scanned < end_ || eof_) break;
    // A refill moves the token to the front of the buffer, whether or not it finds more.
    std::size_t offset = scanned - pos_;
    const bool more = fill();
    scanned = pos_ + offset;
    if (!more) break;
  }
  token = std::string_view(buf_.data() + pos_, scanned - pos_);
  last_ = token;
  pos_ = scanned;
  return true;
}

void TokenReader::rewind() {
  pos_ = end_ = 0;
  eof_ = false;
  at_start_ = true;
  line_break_ = false;
  last_ = {};
  if (!pipe_) {
    std::rewind(file_);
    return;
  }
  if (replayed_) fail("A pipe cannot be read twice.\n");
  replayed_ = true;
  if (kept_.empty()) return;
  buf_.assign(kept_.begin(), kept_.end());
  buf_.resize(std::max(buf_.size(), kChunk));
  end_ = kept_.size();
  kept_ = std::string();
  at_start_ = false;
  if (end_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
}

std::string TokenReader::take_read_ahead() {
  std::string rest(buf_.data() + pos_, end_ - pos_);
  pos_ = end_;
  return rest;
}

std::FILE* open_for_reading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

bool parse_number(std::string_view token, double& value) {
  PlainDecimal plain;
  if (read_plain_decimal(token, plain)) {
    value = plain_value(plain);
    return true;
  }
  // Any other form: convert a copy with strtod, which reads exactly what the "%lf" conversion
  // reads.
  char small[64];
  std::string large;
  const char* text;
  if (token.size() < sizeof small) {
    std::memcpy(small, token.data(), token.size());
    small[token.size()] = '\0';
    text = small;
  } else {
    large.assign(token);
    text = large.c_str();
  }
  char* stop = nullptr;
  double v = std::strtod(text, &stop);
  if (stop == text || !std::isfinite(v)) return false;
  value = v;
  return true;
}

}  // namespace forests
