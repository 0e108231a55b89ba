// Whole kestrel runs on command lines made of its option words and odd values.
#include <algorithm>

#include "kestrel.hpp"
#include "program_runs.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return run_command_line(
      data, size, {"-t", "-n", "-perm", "-m", "-minnode", "-r", "-s", "-fdr", "-seed", "-threads"},
      parse_kestrel_args,
      [](KestrelSettings& s) {
        s.ntree = std::min(s.ntree, 3);
        s.nperm = std::min(s.nperm, 2);
        s.threads = std::min(s.threads, 2);
        s.seed_given = true;
      },
      run_kestrel);
}
