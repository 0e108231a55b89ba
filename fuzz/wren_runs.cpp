// Whole wren runs on command lines made of its option words and odd values.
#include <algorithm>

#include "program_runs.hpp"
#include "wren.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return run_command_line(
      data, size, {"-t", "-o", "-n", "-minnode", "-r", "-p", "-s", "-threads", "-save", "-votes"}, parse_wren_args,
      [](WrenSettings& s) {
        s.ntop = std::min(s.ntop, 3);
        s.nsub = std::min(s.nsub, 2);
        s.threads = std::min(s.threads, 2);
      },
      run_wren);
}
