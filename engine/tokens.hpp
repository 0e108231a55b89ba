// Buffered reading of a text file as white-space separated tokens.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// A plain decimal token ("-12.345", ".5", "7.", "+3") of at most 15 digits: the digits as one
// whole number, how many follow the point, and whether the token is that number as printed
// with that many decimals (no '+', no leading zero before another digit, a digit on both
// sides of a point).
struct PlainDecimal {
  std::uint64_t digits = 0;
  int decimals = 0;
  bool negative = false;
  bool canonical = false;
};

// False for a token of any other form. A sign, 15 digits and a point at most: no more than 17
// characters are ever looked at.
inline bool read_plain_decimal(std::string_view token, PlainDecimal& d) {
  if (token.empty() || token.size() > 17) return false;
  const char* p = token.data();
  const char* const end = p + token.size();
  d.negative = *p == '-';
  const bool plus = *p == '+';
  if (d.negative || plus) ++p;
  const char* const first = p;
  std::uint64_t digits = 0;
  const char* point = nullptr;
  for (; p < end; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (digit < 10)
      digits = 10 * digits + digit;
    else if (*p == '.' && !point)
      point = p;
    else
      return false;
  }
  const long ndigits = (end - first) - (point ? 1 : 0);
  if (ndigits == 0 || ndigits > 15) return false;
  const long whole = (point ? point : end) - first;
  d.digits = digits;
  d.decimals = point ? static_cast<int>(end - point - 1) : 0;
  d.canonical = !plus && whole >= 1 && (whole == 1 || *first != '0') && (!point || d.decimals >= 1);
  return true;
}

// As read_plain_decimal, for a token with 8 bytes readable from its start (whatever they hold
// past its end): one of at most 8 bytes is read as one word.
inline bool read_plain_decimal_padded(std::string_view token, PlainDecimal& d) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kLow7 = 0x7f7f7f7f7f7f7f7full;
  const std::size_t n = token.size();
  if (n == 0 || n > 8 || std::endian::native != std::endian::little) return read_plain_decimal(token, d);
  std::uint64_t x;
  std::memcpy(&x, token.data(), 8);
  const auto first = static_cast<unsigned char>(x);
  const int sign = first == '-' || first == '+' ? 1 : 0;
  const int m = static_cast<int>(n) - sign;  // bytes of the number, 1 to 8 for a plain one
  if (m == 0) return false;
  const std::uint64_t inside = m == 8 ? ~0ull : (std::uint64_t{1} << (8 * m)) - 1;
  x = (sign ? x >> 8 : x) & inside;
  // A high bit in each byte that is exactly '.', within the number.
  const std::uint64_t point_bytes = x ^ (kOnes * '.');
  const std::uint64_t points = ~(((point_bytes & kLow7) + kLow7) | point_bytes | kLow7) & inside;
  if ((points & (points - 1)) != 0) return false;
  // Every byte a digit once the point and the bytes past the number read as '0'.
  const std::uint64_t digits_text = x + (points >> 7) * ('0' - '.') + (~inside & (kOnes * '0'));
  if ((digits_text & (kOnes * 0xf0)) != kOnes * '0' || (((digits_text & (kOnes * 0x0f)) + kOnes * 6) & (kOnes * 0xf0)) != 0)
    return false;
  const int ndigits = m - (points ? 1 : 0);
  if (ndigits == 0) return false;
  const int point = points ? std::countr_zero(points) / 8 : m;
  // The digits without the point, the last one in the highest byte, leading zeros before them.
  std::uint64_t v = digits_text - kOnes * '0';
  if (points) {
    const std::uint64_t before = (std::uint64_t{1} << (8 * point)) - 1;
    v = (v & before) | ((v >> 8) & ~before);
  }
  v <<= 8 * (8 - ndigits);
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000ff000000ffull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000ff000000ffull) * (1 + (10000ull << 32)))) >> 32;
  d.digits = static_cast<std::uint32_t>(v);
  d.negative = first == '-';
  d.decimals = points ? m - point - 1 : 0;
  d.canonical = first != '+' && point >= 1 && (point == 1 || static_cast<unsigned char>(x) != '0') &&
                (!points || d.decimals >= 1);
  return true;
}

// The value of a plain decimal: the digits and the power of ten are both exact, so the quotient
// is the correctly rounded value, the very double strtod gives.
inline double plain_value(const PlainDecimal& d) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  double v = static_cast<double>(d.digits);
  if (d.decimals > 0) v /= kPow10[d.decimals];
  return d.negative ? -v : v;
}

// Reads the leading number of a token as the "%lf" conversion does. False when the token does
// not start with a number or the number is not finite.
bool parse_number(std::string_view token, double& value);

}  // namespace forests
