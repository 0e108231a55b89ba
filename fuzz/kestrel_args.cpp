// kestrel's command line on arbitrary arguments: parsed or rejected, never a crash.
#include "fuzz_input.hpp"
#include "kestrel.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto args = input_arguments(data, size);
  auto argv = argv_of(args);
  try {
    parse_kestrel_args(static_cast<int>(argv.size()), argv.data());
  } catch (const FatalError&) {
  }
  return 0;
}
