// Whole runs of a program on command lines made from the fuzz input: its real option words,
// each with a value that is negative, zero, huge, text, empty, a file or a folder, or none. The
// data are small and valid; the run is bounded (few trees, at most 2 threads). A run ends
// normally or with its message (FatalError); anything else escapes and is a finding.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fatal.hpp"

namespace forests {

// A folder of this process with a data file, a file to classify, a folder and a pipe; removed
// at exit.
struct Scratch {
  std::string dir, data, predict, folder, pipe;
};

inline void remove_scratch();

inline const Scratch& scratch() {
  static Scratch* s = nullptr;
  if (!s) {
    std::string templ = (std::filesystem::temp_directory_path() / "fuzz-programs-XXXXXX").string();
    const std::string dir = mkdtemp(templ.data());
    s = new Scratch{dir, dir + "/d.txt", dir + "/p.txt", dir + "/folder", dir + "/pipe"};
    std::string data = "o n o d r\ng1 g2 g3 id y\n";
    for (int i = 0; i < 30; ++i)
      data += std::to_string(i % 3) + " " + (i % 7 == 3 ? "NA" : std::to_string((i * 7) % 3)) + " " +
              std::to_string((i / 3) % 3) + " " + std::to_string(i) + " " + (i % 3 == 2 ? "2" : "1") + "\n";
    std::ofstream(s->data, std::ios::binary) << data;
    std::ofstream(s->predict, std::ios::binary) << data;
    std::filesystem::create_directory(s->folder);
    mkfifo(s->pipe.c_str(), 0600);
    std::atexit(remove_scratch);
  }
  return *s;
}

inline void remove_scratch() { std::filesystem::remove_all(scratch().dir); }

// Reads the input a byte at a time; zeros once it is used up.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

inline std::string path_value(Bytes& in) {
  const Scratch& s = scratch();
  switch (in.next() % 6) {
    case 0: return s.data;
    case 1: return s.predict;
    case 2: return s.dir + "/missing.txt";
    case 3: return s.folder;
    case 4: return s.pipe;
    default: return "";
  }
}

inline std::string number_value(Bytes& in) {
  static const char* const kValues[] = {"0",  "1",   "2",   "3",           "-1",         "-3",   "99999999999",
                                        "",   "ten", "1e3", "5x",          "0.5",        "1,5",  "2147483647",
                                        "-2147483648", "9223372036854775807", "-0", "+4", " 1", "0.05", "1.0"};
  const std::uint8_t pick = in.next();
  if (pick < 200) return kValues[pick % (sizeof kValues / sizeof kValues[0])];
  return std::to_string(static_cast<int>(in.next()) - 64);  // a small number from the input
}

// The arguments: program name, the data file, then option words (now and then an unknown one) with values.
inline std::vector<std::string> command_line(Bytes& in, const std::vector<std::string>& words) {
  std::vector<std::string> args{"program", "-t", scratch().data};
  while (!in.done() && args.size() < 24) {
    const std::uint8_t pick = in.next();
    const std::string word = pick % 32 == 31 ? "-x" : words[pick % words.size()];
    args.push_back(word);
    if (in.next() % 16 == 15) continue;  // no value: the next word takes its place
    args.push_back(word == "-t" || word == "-p" ? path_value(in) : number_value(in));
  }
  return args;
}

// Parses the command line with `parse`, bounds the settings with `bound` and runs them.
template <class Parse, class Bound, class Run>
int run_command_line(const std::uint8_t* data, std::size_t size, const std::vector<std::string>& words,
                     Parse&& parse, Bound&& bound, Run&& run) {
  Bytes in(data, size);
  const std::vector<std::string> args = command_line(in, words);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  try {
    auto settings = parse(static_cast<int>(argv.size()), argv.data());
    bound(settings);
    run(settings);
  } catch (const FatalError& e) {
    if (e.text.empty()) std::abort();  // a stop must say why
  } catch (const EarlyExit&) {
  }
  return 0;
}

// Included by one target each.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!std::freopen("/dev/null", "w", stdout)) return 1;  // the progress lines
  scratch();
  return 0;
}

}  // namespace forests
