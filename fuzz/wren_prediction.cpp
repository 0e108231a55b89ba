// wren's prediction file reader: a training file, a NUL byte, then the file to classify. The
// training file may be rejected; the file to classify is read or found not qualified, never a
// crash.
#include "data_set.hpp"
#include "fuzz_input.hpp"
#include "prediction_reader.hpp"

using namespace forests;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto [training_text, prediction_text] = split_at_nul(data, size);
  DataSet d;
  if (!read_or_reject(bytes(training_text), training_text.size(), [&](TokenReader& tokens, OutFile& report) {
        read_data_file(tokens, report, ReadOptions{false, true}, d);
      }))
    return 0;
  read_or_reject(bytes(prediction_text), prediction_text.size(), [&](TokenReader& tokens, OutFile&) {
    PredictionData p;
    read_prediction_file(tokens, d, p);
  });
  return 0;
}
