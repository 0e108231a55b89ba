// wren's reader of files to classify.
#include "prediction_reader.hpp"

#include <algorithm>

#include "prediction_file.hpp"
#include "random.hpp"

namespace forests {

int map_category(const std::vector<int>& ori_catg, int ncat, int v, int missing_int) {
  const auto first = ori_catg.begin(), last = ori_catg.begin() + ncat;
  auto at = std::find(first, last, v);
  if (at == last) at = std::find(first, last, kMergedCategoryCode);
  if (at != last) return static_cast<int>(at - first);
  if (ori_catg[ncat - 1] == missing_int) return ncat - 1;
  return rand_scaled_draw(ncat);
}

bool read_prediction_file(TokenReader& in, const DataSet& training, PredictionData& p) {
  p = PredictionData{};
  const int missing_int = trunc_int(training.missing_code);
  p.X.assign(training.ncov, {});
  const PredictionRead read = read_prediction_rows(
      in, training.ncat_orig,
      [&](int, int j, std::string_view token) {
        const bool missing = is_missing_token(token, false);
        double value = training.missing_code;
        if (!missing && !parse_number(token, value)) return false;
        if (training.ncat_orig[j] == kNominal) {
          const int v = missing ? missing_int : trunc_int(value);
          value = map_category(training.ori_catg[j], training.ncat[j], v, missing_int);
        }
        guarded_grow([&] { p.X[j].push_back(value); }, "allocation failure in realloc");
        return true;
      },
      p.ncase);
  if (read == PredictionRead::qualified) return true;
  p = PredictionData{};
  return false;
}

}  // namespace forests
