// plover's genotype training reader on arbitrary bytes: it must read or reject, never crash.
#include "forest.hpp"
#include "fuzz_input.hpp"
#include "genotypes.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputFile in(data, size);
  try {
    OutFile report("/dev/null", "w");
    TokenReader tokens(in.get());
    DataSet d;
    GenoStore g;
    read_genotype_file(tokens, report, d, g);
    int nusable = 0;
    screen_genotypes(g, 0.5, nusable);
  } catch (const FatalError&) {
    // a clean rejection
  }
  return 0;
}
