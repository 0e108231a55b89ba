// The option table of a program: each option word with the type and range of its value, its
// help line and what it sets; the checked parsing of a command line and the help text made
// from the table. The options several programs share are made here once.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace forests {

enum class ValueType {
  whole,   // an int: optional sign and decimal digits
  seed,    // an integer of up to 64 bits
  real,    // a decimal number
  text,    // any word (a file name)
  flag,    // no value: the option word alone switches something on
};

// A checked value: `text` as given, and its number for the number types.
struct OptionValue {
  const char* text;
  long long whole = 0;
  double real = 0.0;
};

struct OptionSpec {
  const char* word;
  ValueType type;
  const char* value_name;     // in the help line: N, FILE, SHARE...
  const char* about;          // what it sets
  const char* default_text;   // shown in brackets
  double low, high;           // the allowed range of a number, both ends included
  std::function<void(const OptionValue&)> set;
};

// What "-h", "--help" and "--version" print besides the option lines.
struct ProgramHelp {
  const char* name;
  const char* about;  // what the program does
  const char* files;  // what it writes
};

extern const char* const kVersion;

// The usage: the program's text, one line per option of the table with its range, and the
// files it writes.
std::string usage_text(const ProgramHelp& help, const std::vector<OptionSpec>& options);

// Takes the arguments in pairs: an option word, compared exactly, then its value. Every value
// is checked against its type and range before anything is set aside for the run; a word that
// is no option, a missing value or a value that is not a number of the option's type stops
// with "parameter error!" and a line saying what was expected, a number out of range with one
// line naming the option, the value and the range. "-h" or "--help" in an option position ends
// the run at once with the usage on standard output and status 0, "--version" with the
// program's name and version.
void parse_options(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                   const ProgramHelp& help);

// A program's table: its groups of options, one after the other.
std::vector<OptionSpec> option_table(std::initializer_list<std::vector<OptionSpec>> groups);

// The options the programs share.
OptionSpec data_file_option(std::string& file, const char* default_name);
OptionSpec prediction_files_option(std::vector<std::string>& files);
// An int option of at least `low`.
OptionSpec count_option(const char* word, int& value, int low, const char* about, const char* default_text);
// "-minnode": cases each side of a split, at least 1.
OptionSpec minnode_option(int& minnode, const char* default_text);
// "-r": a share from 0 to 1 of missing values a covariate may have.
OptionSpec missing_share_option(double& share, const char* what, const char* default_text);
// "-m": candidate covariates at each node, at least 1; records that it was given.
OptionSpec candidates_option(int& nsplitvar, bool& given);
// The options of a program whose trees always split by entropy and classify further files:
// "-p FILE", repeatable, and "-s N", a whole number read and not used.
std::vector<OptionSpec> prediction_options(std::vector<std::string>& files);
// "-seed N": a fixed generator state instead of the calendar time (N modulo 2^32).
OptionSpec seed_option(std::uint32_t& seed, bool& given);
// "-threads N": from 1 to kMaxThreads.
OptionSpec threads_option(int& threads);

constexpr int kMaxThreads = 1024;

}  // namespace forests
