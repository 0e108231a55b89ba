// Drives the training reader in-process on a text.
#pragma once

#include <cstdio>
#include <string>

#include "data_set.hpp"
#include "run_program.hpp"

namespace forests {

struct ReadResult {
  DataSet d;
  std::string report;  // what the reader wrote into the report
  std::string error;   // the fatal message, empty on success
};

// Runs read(in, report) on a file holding `text`. Returns what it wrote into the report; a
// fatal message goes to `error`.
template <class Read>
std::string read_through(const std::string& text, Read&& read, std::string& error) {
  ScratchDir dir;
  dir.write("data.txt", text);
  std::FILE* f = open_for_reading(dir.file("data.txt"));
  try {
    OutFile report(dir.file("report"), "w");
    TokenReader in(f);
    read(in, report);
    report.close();
  } catch (const FatalError& e) {
    error = e.text;
  }
  std::fclose(f);
  return dir.read("report");
}

inline ReadResult read_text(const std::string& text, ReadOptions options = {}) {
  ReadResult r;
  r.report = read_through(
      text, [&](TokenReader& in, OutFile& report) { read_data_file(in, report, options, r.d); }, r.error);
  return r;
}

// Covariate j of every case as a number (nominal: its category; missing: the missing code).
inline std::vector<double> column_values(const DataSet& d, int j) {
  std::vector<double> v;
  for (int i = 0; i < d.ncase; ++i) v.push_back(cell_value(d, j, i));
  return v;
}

// Covariate j of every case as the file spelled it (the spellings kept by the reader).
inline std::vector<std::string> cell_texts(const DataSet& d, int j) {
  const CellText& t = d.text[j];
  const CodeColumn code = d.codes.column(j);
  std::vector<std::string> v;
  for (int i = 0; i < d.ncase; ++i) {
    const int k = t.cell_spelling.words.empty() ? t.code_spelling[code(i)] : t.cell_spelling.get(i);
    v.push_back(t.spelling[k]);
  }
  return v;
}

inline std::vector<std::vector<double>> all_values(const DataSet& d) {
  std::vector<std::vector<double>> v;
  for (int j = 0; j < d.ncov; ++j) v.push_back(column_values(d, j));
  return v;
}

inline std::vector<std::vector<std::string>> all_texts(const DataSet& d) {
  std::vector<std::vector<std::string>> v;
  for (int j = 0; j < static_cast<int>(d.text.size()); ++j) v.push_back(cell_texts(d, j));
  return v;
}

}  // namespace forests
