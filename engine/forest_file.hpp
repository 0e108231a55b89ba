// The saved-forest file: a grown forest with all that classifying further files needs, kept
// as text so that it can be read back later, by a run that grows nothing.
//
// Layout, one item per line, fields separated by single spaces:
//   saved-forest VERSION PROGRAM
//   classes N LABEL...                       (response labels, ascending)
//   missing CODE                             (the missing-value code, exact)
//   covariates N
//   o NAME                                   (an ordinal covariate)
//   n NAME K CODE...                         (a nominal one: its K categories' data-file codes)
//   trees N
//   tree T NODES                             (then one line per node:)
//   COVARIATE LEFT VALUE CLASS MISSING_RIGHT
//   end CHECK
// Covariates and nodes are numbered from 1, 0 meaning none: COVARIATE is the split covariate,
// LEFT the left daughter (the right one follows it; 0 at a terminal node), VALUE the cut-off or
// category set code written exactly, CLASS the node's class index. CHECK is a 64-bit hash of
// every byte before the end line, in hex: a damaged or cut file is refused, never used.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "data_set.hpp"
#include "descend.hpp"

namespace forests {

constexpr int kForestFileVersion = 1;

// What prediction reads of the training data (no cases) and the trees.
struct SavedForest {
  DataSet model;  // ncov, nclass, class_label, ncat, ncat_orig, name, missing_code, ori_catg
  std::vector<StoredTree> trees;
};

// category_codes(v): the data-file codes of nominal covariate v's ncat[v] categories.
using CategoryCodesOf = std::function<const std::vector<int>&(int)>;

// The text of a saved forest.
std::string forest_text(const std::string& program, const DataSet& d, const CategoryCodesOf& category_codes,
                        const std::vector<StoredTree>& forest);

// Writes the forest to `path`.
void write_forest_file(const std::string& path, const std::string& program, const DataSet& d,
                       const CategoryCodesOf& category_codes, const std::vector<StoredTree>& forest);

// The hash of the end line.
std::uint64_t forest_check(std::string_view text);

// Reads a saved forest of `program` from its text. Anything else (another format, a newer
// version, another program's forest, a cut or damaged file) stops with a message naming `path`.
SavedForest parse_forest_text(std::string_view text, const std::string& program, const std::string& path);

SavedForest read_forest_file(const std::string& path, const std::string& program);

}  // namespace forests
