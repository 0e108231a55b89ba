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

inline ReadResult read_text(const std::string& text, ReadOptions options = {}) {
  ReadResult r;
  ScratchDir dir;
  dir.write("data.txt", text);
  std::FILE* f = open_for_reading(dir.file("data.txt"));
  try {
    OutFile report(dir.file("report"), "w");
    TokenReader in(f);
    read_data_file(in, report, options, r.d);
    report.close();
  } catch (const FatalError& e) {
    r.error = e.text;
  }
  std::fclose(f);
  r.report = dir.read("report");
  return r;
}
