// Small data files for the end-to-end runs of the workflow tests, and what compares runs.
#pragma once

#include <regex>
#include <string>

inline std::string kestrel_data() {
  std::string s = "r o o n\ny a b c\n";
  for (int i = 0; i < 30; ++i)
    s += std::to_string(i % 2) + " " + std::to_string((i * 7) % 11) + " " + std::to_string(i % 5) + " " +
         std::to_string(i % 3) + "\n";
  return s;
}

// Genotypes: g2 is nominal; labels 1 and 2.
inline std::string plover_data() {
  std::string s = "o n o r\ng1 g2 g3 y\n";
  for (int i = 0; i < 30; ++i)
    s += std::to_string(i % 3) + " " + std::to_string((i / 3) % 3) + " " + std::to_string((i * 5) % 3) + " " +
         std::to_string(1 + (i % 3 == 0)) + "\n";
  return s;
}

// `kind` is nominal with the categories 0..3.
inline std::string wren_data() {
  std::string s = "o n r\nx kind y\n";
  for (int i = 0; i < 20; ++i)
    s += std::to_string(i) + " " + std::to_string(i % 4) + " " + std::to_string(i < 10 ? 0 : 1) + "\n";
  return s;
}

// Standard output with its running times and dates masked.
inline std::string masked_times(const std::string& text) {
  static const std::regex time("Running time: ?[0-9.]+s?|at: .*");
  return std::regex_replace(text, time, "T");
}
