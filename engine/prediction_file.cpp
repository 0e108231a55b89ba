// The column check of files to classify.
#include "prediction_file.hpp"

namespace forests {

bool match_prediction_columns(const std::vector<int>& kinds, const std::vector<int>& training_kinds,
                              std::vector<int>& cov_of_col) {
  const int ncov = static_cast<int>(training_kinds.size());
  cov_of_col.assign(kinds.size(), -1);
  int j = 0;
  for (std::size_t col = 0; col < kinds.size(); ++col) {
    if (kinds[col] == kSkipColumn || kinds[col] == kResponseColumn) continue;
    if (j >= ncov || kinds[col] != training_kinds[j]) return false;
    cov_of_col[col] = j++;
  }
  return j == ncov;
}

}  // namespace forests
