// Runs a program of the suite in a fresh scratch folder and reads back what it wrote.
#pragma once

#include <map>
#include <string>
#include <vector>

// The kind line and the name line of a data file of `ncov` covariates named g0, g1, ... and a
// response y; kind(j) is covariate j's kind letter.
template <class Kind>
std::string numbered_header(int ncov, Kind&& kind) {
  std::string s;
  for (int j = 0; j < ncov; ++j) {
    s += kind(j);
    s += ' ';
  }
  s += "r\n";
  for (int j = 0; j < ncov; ++j) {
    s += 'g';
    s += std::to_string(j);
    s += ' ';
  }
  return s + "y\n";
}

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// Runs `exe` with `args` inside `dir`, capturing standard output and error.
ProgramRun run_program(const std::string& exe, const std::vector<std::string>& args, const ScratchDir& dir);

// The lines of a text (without their line ends).
std::vector<std::string> lines_of(const std::string& text);

std::string read_file(const std::string& path);
