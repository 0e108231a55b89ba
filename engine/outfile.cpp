// Checked output text files: every write, flush and close is verified.
#include "outfile.hpp"

#include <charconv>
#include <cmath>
#include <cstdarg>

#include "fatal.hpp"
#include "staged_outputs.hpp"

namespace forests {

const char* const kOverwriteMessage = "Cannot over-write to file %s. It seems protected.\n";

OutFile::OutFile(const std::string& path, const char* mode, const char* open_message) : path_(path) {
  file_ = std::fopen(staged_path(path).c_str(), mode);
  if (!file_) fail(format(open_message ? open_message : kOverwriteMessage, path.c_str()));
}

OutFile::~OutFile() {
  if (file_) std::fclose(file_);
}

void OutFile::write_failed() {
  std::fclose(file_);
  file_ = nullptr;
  fail(format(kOverwriteMessage, path_.c_str()));
}

void OutFile::printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = std::vfprintf(file_, fmt, ap);
  va_end(ap);
  if (r < 0) write_failed();
}

void OutFile::put_ints(std::initializer_list<int> numbers) {
  constexpr int kLongestInt = 11;  // "-2147483648"
  char text[4 * (kLongestInt + 1)];
  char* end = text;
  for (int v : numbers) {
    if (end + kLongestInt + 1 > text + sizeof text) {
      write(text, static_cast<std::size_t>(end - text));
      end = text;
    }
    end = std::to_chars(end, end + kLongestInt, v).ptr;
    *end++ = ' ';
  }
  write(text, static_cast<std::size_t>(end - text));
}

void OutFile::put_fixed(double value, char after) {
  constexpr double kPlainLimit = 1e15;  // larger values and non-numbers are rare: printf writes them
  if (!(std::fabs(value) < kPlainLimit)) {
    printf("%f%c", value, after);
    return;
  }
  char text[32];  // sign, 15 digits, point, 6 decimals, `after`
  char* end = std::to_chars(text, text + sizeof text - 1, value, std::chars_format::fixed, 6).ptr;
  *end++ = after;
  write(text, static_cast<std::size_t>(end - text));
}

void OutFile::write(const char* data, std::size_t size) {
  if (size && std::fwrite(data, 1, size, file_) != size) write_failed();
}

void OutFile::flush() {
  if (std::fflush(file_) != 0) write_failed();
}

void OutFile::close() {
  if (!file_) return;
  bool bad = std::fflush(file_) != 0 || std::ferror(file_);
  bool closed_bad = std::fclose(file_) != 0;
  file_ = nullptr;
  if (bad || closed_bad) fail(format(kOverwriteMessage, path_.c_str()));
}

}  // namespace forests
