// What makes a run easy to place and to repeat: outputs named from a prefix of the user's
// choice, and the seed line of runs seeded from the clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.hpp"
#include "program_shell.hpp"

// "-out PREFIX": every output is named from PREFIX instead of the data files.
OptionSpec out_option(std::string& prefix);

// The names of a run's outputs: from `out_prefix` when given, else beside `data_file`. A prefix
// must name a file in an existing folder, and the files to classify must then differ in their
// names without folders; otherwise the run stops with a message before any work.
OutputNames output_names(const std::string& out_prefix, const std::string& data_file,
                         const std::vector<std::string>& pred_files);

// A seed drawn from the clock (none given) is told on standard output, with how to repeat the
// run: the first line of a run that got past its input checks.
void tell_drawn_seed(bool given, std::uint32_t seed);
