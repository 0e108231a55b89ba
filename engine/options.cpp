#include "options.hpp"

#include <cstring>

#include "fatal.hpp"

void parse_options(int argc, const char* const* argv, const std::vector<OptionSpec>& options) {
  for (int k = 1; k < argc; k += 2) {
    const OptionSpec* match = nullptr;
    for (const auto& o : options)
      if (std::strcmp(argv[k], o.word) == 0) match = &o;
    if (!match || k + 1 >= argc) fail("parameter error!\n");
    match->set(argv[k + 1]);
  }
}
