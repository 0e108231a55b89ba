// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "fatal.hpp"
#include "outfile.hpp"
#include "tokens.hpp"

namespace forests {

// Bytes as a read-only stream (the readers take a FILE*), closed with the object.
class InputFile {
 public:
  InputFile(const std::uint8_t* data, std::size_t size)
      : copy_(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size) {
    if (copy_.empty()) copy_.push_back(' ');  // fmemopen needs a non-empty buffer
    file_ = fmemopen(copy_.data(), copy_.size(), "rb");
  }
  ~InputFile() {
    if (file_) std::fclose(file_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::vector<char> copy_;
  std::FILE* file_;
};

// Runs read(tokens, report) on the bytes, the report going nowhere. False when the reader
// rejected them with a fatal message (a clean rejection).
template <class Read>
bool read_or_reject(const std::uint8_t* data, std::size_t size, Read&& read) {
  InputFile in(data, size);
  try {
    OutFile report("/dev/null", "w");
    TokenReader tokens(in.get());
    read(tokens, report);
    return true;
  } catch (const FatalError&) {
    return false;
  }
}

// Two files in one input: the bytes before the first NUL and the bytes after it (a training
// file and a file to classify).
inline std::pair<std::string, std::string> split_at_nul(const std::uint8_t* data, std::size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::size_t at = all.find('\0');
  if (at == std::string::npos) return {all, std::string()};
  return {all.substr(0, at), all.substr(at + 1)};
}

inline const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// The input as a command line: arguments separated by NUL bytes, program name first.
inline std::vector<std::string> input_arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"program"};
  std::string cur;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(cur);
      cur.clear();
    } else {
      cur += static_cast<char>(data[i]);
    }
  }
  args.push_back(cur);
  return args;
}

// Runs a program's command-line parser on the input: it parses, rejects (FatalError) or ends
// the run early with help or version (EarlyExit); anything else is a finding.
template <class Parse>
int fuzz_command_line(const std::uint8_t* data, std::size_t size, Parse&& parse) {
  const auto args = input_arguments(data, size);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  try {
    parse(static_cast<int>(argv.size()), argv.data());
  } catch (const FatalError&) {
  } catch (const EarlyExit&) {
  }
  return 0;
}

}  // namespace forests
