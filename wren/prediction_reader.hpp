// wren's files to classify: read against the training data set, nominal values mapped onto
// the training categories.
#pragma once

#include <vector>

#include "data_set.hpp"
#include "tokens.hpp"

namespace forests {

struct PredictionData {
  int ncase = 0;
  std::vector<std::vector<double>> X;  // X[j][i]; nominal cells hold training category codes
};

// Reads a file to classify. False (and `p` left empty) when the file does not qualify: no token,
// covariate columns that differ from the training ones in number or kind, a name line or last
// row cut short, or a token that is no number.
bool read_prediction_file(TokenReader& in, const DataSet& training, PredictionData& p);

// The training category of a nominal value with integer part v: its own category, else the
// merged category, else the missing category, else one drawn at random.
int map_category(const std::vector<int>& ori_catg, int ncat, int v, int missing_int);

}  // namespace forests
