// Command lines of option words, each followed by its value.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct OptionSpec {
  const char* word;
  std::function<void(const char* value)> set;
};

// What "-h", "--help" and "--version" print. The usage is put together from the program's
// parts and the lines every program shares (the usage line, -threads, -h).
struct ProgramHelp {
  const char* name;
  const char* about;    // what the program does
  const char* options;  // its own option lines
  const char* files;    // what it writes
};

std::string usage_text(const ProgramHelp& help);

extern const char* const kVersion;

// An int option that also records that it was given ("-m").
OptionSpec given_int_option(const char* word, int& value, bool& given);

// "-seed N": a fixed generator state instead of the calendar time (N modulo 2^32).
OptionSpec seed_option(std::uint32_t& seed, bool& given);

// "-threads N": the number of threads (at least 1).
OptionSpec threads_option(int& threads);

// Takes the arguments in pairs: an option word, compared exactly, then its value. An unknown
// word or a word without a value stops with "parameter error!\n". With `help`, "-h" or
// "--help" in an option position ends the run at once with the usage on standard output and
// status 0, "--version" with the program's name and version.
void parse_options(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                   const ProgramHelp* help = nullptr);
