// Drives the training reader in-process on a text.
#pragma once

#include <cstdio>
#include <string>

#include "data_set.hpp"
#include "run_program.hpp"

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
