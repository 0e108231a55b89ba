// plover's genotype training reader on arbitrary bytes: it must read or reject, never crash.
#include "forest.hpp"
#include "fuzz_input.hpp"
#include "genotypes.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  read_or_reject(data, size, [](TokenReader& tokens, OutFile& report) {
    DataSet d;
    GenoStore g;
    read_genotype_file(tokens, report, d, g);
    int nusable = 0;
    screen_genotypes(g, 0.5, nusable);
  });
  return 0;
}
