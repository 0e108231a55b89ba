// What the three programs do alike around their own work: the main routine, the checks of
// input files, the names of the outputs, the tree lines of the report and the progress lines.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "data_set.hpp"
#include "outfile.hpp"
#include "staged_outputs.hpp"
#include "terminal_progress.hpp"
#include "tokens.hpp"
#include "tree.hpp"
#include "tree_text.hpp"

namespace forests {

// A program's main: the stop signals remove staged outputs, and every way the body can end
// becomes a message and a status (see guarded_main).
int program_main(const std::function<int()>& body);

// The message for a data file that does not exist, with %s for its name.
extern const char* const kMissingDataFile;

// The name that reads standard input in place of a data file.
extern const char* const kStandardInput;

// Opens a data file for reading: a regular file, a pipe or FIFO (read once, as it comes), or
// standard input for "-". A file that is missing (message `missing_format`), a folder, a
// device or unreadable stops with a message naming it.
InFile open_data_file(const std::string& path, const char* missing_format = kMissingDataFile);

// Every file to classify must be a readable data file before the first tree is grown. A pipe
// is only checked here: it is opened once, when it is read.
void check_prediction_files(const std::vector<std::string>& files);

// The names of a run's outputs: those of the training data share one base (the data file's
// name, or the -out prefix), followed by their suffix. An output of a file to classify is its
// own name followed by the suffix (".pre"), or with a prefix PREFIX.NAME followed by it, NAME
// being the file's name without its folders.
struct OutputNames {
  std::string base;
  bool from_prefix = false;
  std::string operator()(const char* suffix) const { return base + suffix; }
  std::string for_file(const std::string& file, const char* suffix) const;
};
// The training outputs followed by the .pre file of each file to classify, as staged.
std::vector<OutputPath> run_outputs(const std::vector<std::string>& training_outputs,
                                    const std::vector<std::string>& prediction_files, const OutputNames& names);

// Appends "N: " and the tree line to the report.
template <class CategoryCodes, class WriteCut>
void append_tree_line(const std::string& report_path, int number, const TreeRecord& t, const DataSet& d,
                      CategoryCodes&& category_codes, WriteCut&& write_cut) {
  OutFile report(report_path, "a");
  report.printf("%d: ", number);
  write_tree_line(report, t, d.y.data(), d.nclass, d.ncat, category_codes, write_cut);
  report.close();
}

// When "Number of trees completed" is printed: after every tree of a run of fewer than 10
// trees, else after every `every`-th tree, with `gap` between the count and the time.
struct ProgressRule {
  int every;
  const char* gap;
};
// The terminal line, if any, makes way for the printed line and then counts the tree.
void print_tree_progress(const ProgressRule& rule, int ntree, int done, double seconds,
                         TerminalProgress* line = nullptr);

}  // namespace forests
