// Whole plover runs on command lines made of its option words and odd values.
#include <algorithm>

#include "plover.hpp"
#include "program_runs.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return run_command_line(
      data, size, {"-t", "-n", "-m", "-minnode", "-r", "-p", "-s", "-seed", "-threads", "-save", "-votes"}, parse_plover_args,
      [](PloverSettings& s) {
        s.ntree = std::min(s.ntree, 4);
        s.threads = std::min(s.threads, 2);
        s.seed_given = true;
      },
      run_plover);
}
