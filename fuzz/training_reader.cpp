// The training data reader on arbitrary bytes: it must read or reject, never crash or hang.
#include "data_set.hpp"
#include "fuzz_input.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool wren_form = data[0] & 1;  // the first byte picks the reader's form
  read_or_reject(data + 1, size - 1, [&](TokenReader& tokens, OutFile& report) {
    DataSet d;
    read_data_file(tokens, report, ReadOptions{!wren_form, wren_form}, d);
    int nusable = 0;
    screen_missing(d, 0.5, nusable);
  });
  return 0;
}
