// Buffered reading of a text file as white-space separated tokens.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace forests {

class TokenReader {
 public:
  explicit TokenReader(std::FILE* file);

  // The next token; false at the end of the file. The view stays valid until the next call.
  bool next(std::string_view& token) {
    // Most tokens lie whole inside the buffer: find them here; refills take the long way.
    const char* b = buf_.data();
    std::size_t p = pos_;
    bool line_break = false;
    while (p < end_ && kSpace[static_cast<unsigned char>(b[p])]) {
      line_break |= b[p] == '\n' || b[p] == '\r';
      ++p;
    }
    std::size_t q = p;
    while (q < end_ && !kSpace[static_cast<unsigned char>(b[q])]) ++q;
    if (p == q || q == end_) return next_across_refill(token);
    token = std::string_view(b + p, q - p);
    last_ = token;
    pos_ = q;
    line_break_ = line_break;
    return true;
  }

  // Whether a line end (LF, CR LF or a lone CR) came between the previous token and the last
  // one read.
  bool line_break_before() const { return line_break_; }

  // The last token returned by next(); still valid after next() has reached the end.
  std::string_view last_token() const { return last_; }

  // Back to the start of the file (a byte-order mark is skipped again). A stream that cannot
  // seek (a pipe) is read once: the bytes read before its first rewind are kept and read
  // again from memory, and it cannot be rewound a second time.
  void rewind();

  // Hands over the bytes read ahead and not yet returned as tokens. The rest of the file is
  // then read straight from file(); the reader is done with until rewound.
  std::string take_read_ahead();
  std::FILE* file() const { return file_; }

  static bool is_space(char c) { return kSpace[static_cast<unsigned char>(c)]; }

 private:
  static const bool kSpace[256];

  bool fill();
  bool next_across_refill(std::string_view& token);

  std::FILE* file_;
  std::vector<char> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool at_start_ = true;
  bool line_break_ = false;
  std::string_view last_;
  std::string saved_;  // last_ when the buffer had to move under it
  bool pipe_ = false;    // the stream cannot seek
  bool replayed_ = false;
  std::string kept_;     // a pipe's bytes before its first rewind
};

// Opens a file for reading in binary mode; nullptr when it cannot be opened.
std::FILE* open_for_reading(const std::string& path);

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using InFile = std::unique_ptr<std::FILE, FileCloser>;

// Reads the leading number of a token as the "%lf" conversion does. False when the token does
// not start with a number or the number is not finite.
bool parse_number(std::string_view token, double& value);

}  // namespace forests
