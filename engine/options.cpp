#include "options.hpp"

#include <cstring>

#include "fatal.hpp"
#include "tokens.hpp"

OptionSpec given_int_option(const char* word, int& value, bool& given) {
  return {word, [&value, &given](const char* v) {
            value = option_int(v);
            given = true;
          }};
}

OptionSpec seed_option(std::uint32_t& seed, bool& given) {
  return {"-seed", [&seed, &given](const char* v) {
            seed = static_cast<std::uint32_t>(option_long(v));
            given = true;
          }};
}

OptionSpec threads_option(int& threads) {
  return {"-threads", [&threads](const char* v) {
            threads = option_int(v);
            if (threads < 1) fail(format("The number of threads (-threads %d) must be at least 1.\n", threads));
          }};
}

const char* const kVersion = "1.0.0";

std::string usage_text(const ProgramHelp& help) {
  return std::string("Usage: ") + help.name + " [option value]...\n" + help.about + "\nOptions [defaults]:\n" +
         help.options +
         "  -threads N   threads to work on; the files do not depend on it [all hardware threads]\n"
         "  -h, --help   this text; --version the version\n"
         "\n" +
         help.files;
}

void parse_options(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                   const ProgramHelp* help) {
  for (int k = 1; k < argc; k += 2) {
    if (help && (std::strcmp(argv[k], "-h") == 0 || std::strcmp(argv[k], "--help") == 0))
      throw EarlyExit{usage_text(*help)};
    if (help && std::strcmp(argv[k], "--version") == 0)
      throw EarlyExit{std::string(help->name) + " " + kVersion + "\n"};
    const OptionSpec* match = nullptr;
    for (const auto& o : options)
      if (std::strcmp(argv[k], o.word) == 0) match = &o;
    if (!match || k + 1 >= argc) fail("parameter error!\n");
    match->set(argv[k + 1]);
  }
}
