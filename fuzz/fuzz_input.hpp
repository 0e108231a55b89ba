// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The input as a read-only stream (the readers take a FILE*).
inline std::FILE* input_stream(const std::uint8_t* data, std::size_t size) {
  static std::vector<char> copy;
  copy.assign(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
  if (copy.empty()) copy.push_back(' ');  // fmemopen needs a non-empty buffer
  return fmemopen(copy.data(), copy.size(), "rb");
}

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

inline std::vector<const char*> argv_of(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return argv;
}
