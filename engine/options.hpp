// Command lines of option words, each followed by its value.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct OptionSpec {
  const char* word;
  std::function<void(const char* value)> set;
};

// Takes the arguments in pairs: an option word, compared exactly, then its value. An unknown
// word or a word without a value stops with "parameter error!\n".
void parse_options(int argc, const char* const* argv, const std::vector<OptionSpec>& options);
