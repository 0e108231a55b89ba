// The three programs, with data each of them can grow a small forest on.
#pragma once

#include <string>
#include <vector>

#include "run_program.hpp"

struct Program {
  std::string name;
  std::string exe;
  std::vector<std::string> options;  // every option word it takes
};

// Options that take no value.
inline bool is_flag(const std::string& option) { return option == "-save" || option == "-votes"; }

inline const std::vector<Program>& programs() {
  static const std::vector<Program> all{
      {"kestrel", KESTREL_EXE, {"-t", "-n", "-perm", "-m", "-minnode", "-r", "-s", "-fdr", "-seed", "-out", "-threads"}},
      {"plover", PLOVER_EXE, {"-t", "-n", "-m", "-minnode", "-r", "-p", "-s", "-seed", "-save", "-forest", "-votes", "-out", "-threads"}},
      {"wren", WREN_EXE, {"-t", "-o", "-n", "-minnode", "-r", "-p", "-s", "-save", "-forest", "-votes", "-out", "-threads"}},
  };
  return all;
}

// `ncase` cases of genotypes whose class follows the first covariate; the second is nominal.
inline std::string genotype_data(int ncase) {
  std::string s = "o n o r\ng1 g2 g3 y\n";
  for (int i = 0; i < ncase; ++i)
    s += std::to_string(i % 3) + " " + std::to_string((i * 7) % 3) + " " + std::to_string((i / 3) % 3) + " " +
         (i % 3 == 2 ? "2" : "1") + "\n";
  return s;
}
