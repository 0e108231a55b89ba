// The training data reader on arbitrary bytes: it must read or reject, never crash or hang.
#include "data_set.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool wren_form = data[0] & 1;  // the first byte picks the reader's form
  InputFile in(data + 1, size - 1);
  try {
    OutFile report("/dev/null", "w");
    TokenReader tokens(in.get());
    DataSet d;
    read_data_file(tokens, report, ReadOptions{!wren_form, wren_form}, d);
    int nusable = 0;
    screen_missing(d, 0.5, nusable);
  } catch (const FatalError&) {
    // a clean rejection
  }
  return 0;
}
