// plover's reader of files to classify: a genotype training file, a NUL byte, then the file to
// classify. The training file may be rejected; the file to classify is read or found not
// qualified, never a crash.
#include "fuzz_input.hpp"
#include "genotypes.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [training_text, prediction_text] = split_at_nul(data, size);
  DataSet d;
  GenoStore g;
  if (!read_or_reject(bytes(training_text), training_text.size(),
                      [&](TokenReader& tokens, OutFile& report) { read_genotype_file(tokens, report, d, g); }))
    return 0;
  read_or_reject(bytes(prediction_text), prediction_text.size(), [&](TokenReader& tokens, OutFile&) {
    GenoStore p;
    read_genotype_prediction(tokens, d, p);
  });
  return 0;
}
