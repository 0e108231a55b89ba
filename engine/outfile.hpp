// Output text files whose every write, flush and close is checked.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

namespace forests {

class OutFile {
 public:
  // "w": create or empty; "a": append. A staged output is opened at its temporary; messages
  // name `path`. On failure throws `open_message` formatted with the path (by default the
  // over-write message).
  OutFile(const std::string& path, const char* mode, const char* open_message = nullptr);
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void write(const char* data, std::size_t size);
  void puts(const std::string& text) { write(text.data(), text.size()); }
  // Each number in decimal and one space after it, as printf("%d ") writes it, without
  // parsing a format for every number (a tree line holds thousands).
  void put_ints(std::initializer_list<int> numbers);
  // `value` as printf("%f") writes it, then `after`: to_chars gives the same correctly
  // rounded digits without parsing a format (tree lines and importance lists hold thousands).
  void put_fixed(double value, char after);
  void flush();
  // Closes and checks that everything reached the file.
  void close();

  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void write_failed();

  std::string path_;
  std::FILE* file_ = nullptr;
};

extern const char* const kOverwriteMessage;

}  // namespace forests
