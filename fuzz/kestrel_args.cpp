// kestrel's command line on arbitrary arguments: parsed or rejected, never a crash.
#include "fuzz_input.hpp"
#include "kestrel.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_command_line(data, size, parse_kestrel_args);
}
