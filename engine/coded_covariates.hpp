// The covariates of a data set as the split searches read them: one small integer code per
// cell. An ordinal covariate's codes are the ranks of its distinct values (the missing code,
// being the smallest value, has rank 0); a nominal covariate's code is its category.
#pragma once

#include <vector>

#include "data_set.hpp"

struct CodeColumn {
  const int* code;
  int operator()(int row) const { return code[row]; }
};

struct CodedCovariates {
  std::vector<std::vector<int>> code;      // per covariate, per data row
  std::vector<int> ncodes;                 // codes run 0 .. ncodes-1
  std::vector<int> missing_codes;          // code of a missing value (or category), -1 when none
  std::vector<char> is_nominal;            // ncat > 1
  std::vector<std::vector<double>> value;  // ordinal: the value of each code

  CodeColumn column(int v) const { return {code[v].data()}; }
  int ncode(int v) const { return ncodes[v]; }
  int missing(int v) const { return missing_codes[v]; }
  bool nominal(int v) const { return is_nominal[v] != 0; }
  double cut_value(int v, int code_) const { return value[v][code_]; }
};

CodedCovariates code_covariates(const DataSet& d);
