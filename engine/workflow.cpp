// Output names from a prefix, and the seed line of runs seeded from the clock.
#include "workflow.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <map>

#include "fatal.hpp"

namespace {

void check_prefix_folder(const std::string& prefix) {
  const std::size_t slash = prefix.find_last_of('/');
  if (slash + 1 == prefix.size())
    fail(format("The output prefix %s must end with a name, as in results/trial (-out).\n", prefix.c_str()));
  if (slash == std::string::npos) return;
  const std::string folder = slash == 0 ? "/" : prefix.substr(0, slash);
  struct stat st;
  if (stat(folder.c_str(), &st) != 0)
    fail(format("The folder %s of the output prefix %s does not exist (-out).\n", folder.c_str(), prefix.c_str()));
  if (!S_ISDIR(st.st_mode))
    fail(format("%s, in the output prefix %s, is not a folder (-out).\n", folder.c_str(), prefix.c_str()));
}

// With a prefix, files to classify of the same name would share their outputs.
void check_distinct_names(const OutputNames& names, const std::vector<std::string>& pred_files) {
  std::map<std::string, std::string> first_of;
  for (const std::string& f : pred_files) {
    const std::string pre = names.for_file(f, ".pre");
    const auto [at, fresh] = first_of.emplace(pre, f);
    if (!fresh)
      fail(format("The files to classify %s and %s have the same name; with -out both would be written to %s.\n",
                  at->second.c_str(), f.c_str(), pre.c_str()));
  }
}

}  // namespace

OptionSpec out_option(std::string& prefix) {
  return {"-out", ValueType::text, "PREFIX", "name every output PREFIX.inf, PREFIX.NAME.pre...",
          "beside the data files", 0, 0, [&prefix](const OptionValue& v) { prefix = v.text; }};
}

OutputNames output_names(const std::string& out_prefix, const std::string& data_file,
                         const std::vector<std::string>& pred_files) {
  if (out_prefix.empty() && data_file == kStandardInput)
    fail("Reading the training data from standard input (-t -) needs -out PREFIX to name the outputs.\n");
  if (out_prefix.empty()) return OutputNames{data_file, false};
  check_prefix_folder(out_prefix);
  const OutputNames names{out_prefix, true};
  check_distinct_names(names, pred_files);
  return names;
}

void tell_drawn_seed(bool given, std::uint32_t seed) {
  if (!given) std::printf("Random seed: %u (add -seed %u to repeat this run)\n", seed, seed);
}
