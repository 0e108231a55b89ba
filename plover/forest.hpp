// What plover does with its grown trees: out-of-bag votes and errors, the permutation
// importance, and the classification of further files.
#pragma once

#include <string>
#include <vector>

#include "data_set.hpp"
#include "descend.hpp"
#include "genotypes.hpp"
#include "parallel.hpp"

// Usable covariates: at most ncase * max_missing missing genotypes.
std::vector<int> screen_genotypes(const GenoStore& g, double max_missing, int& nusable);

// The terminal node case i reaches in a tree.
int terminal_node(const StoredTree& t, const GenoStore& g, const std::vector<int>& ncat, int i);

// The class a tree gives case i.
int classify(const StoredTree& t, const GenoStore& g, const std::vector<int>& ncat, int i);

// The same with covariate j read from case `donor` instead.
int classify_with_donor(const StoredTree& t, const GenoStore& g, const std::vector<int>& ncat, int i, int j,
                        int donor);

// Out-of-bag bookkeeping over the whole forest.
struct OobTally {
  int nclass = 0;
  std::vector<int> oob_votes;        // case i, class c at i * nclass + c
  long long oob_err_total = 0;       // out-of-bag cases misclassified by their own tree
  std::vector<long long> perm_err;   // the same with the covariate permuted
  // Work lists of the current tree: out-of-bag cases, their terminal nodes, the permuted cases,
  // each node's parent, nodes below a split on the permuted covariate.
  std::vector<int> oob_cases, oob_node, parent;
  std::vector<int> perm;                 // one permutation of the out-of-bag cases per covariate
  std::vector<std::vector<char>> below;  // per thread

  OobTally(int ncase, int nclass, int ncov);
};

// Covariates that take part in the importance of a tree: usable, and the first node that names
// them has daughters. In increasing order.
std::vector<int> covariates_taking_part(const StoredTree& t, const std::vector<int>& var_usable);

// Votes and errors of the tree's out-of-bag cases, then for each covariate the errors with its
// genotypes permuted among them (one shuffle per taking part covariate, compounding).
void out_of_bag_pass(const StoredTree& t, const GenoStore& g, const DataSet& d, const std::vector<int>& in_bag,
                     const std::vector<int>& var_usable, OobTally& tally, WorkerPool* pool = nullptr);

// Share of cases whose majority out-of-bag vote is wrong (no votes count as class 0).
double oob_error_rate(const OobTally& tally, const DataSet& d);

void write_importance_file(const std::string& path, const DataSet& d, const OobTally& tally, int ntree);

// Majority vote of the forest for case i of `g`.
int forest_vote(const std::vector<StoredTree>& forest, const GenoStore& g, const std::vector<int>& ncat, int i,
                std::vector<int>& votes);

// Writes the .pre file of a store read from a file to classify.
void write_predictions(const std::string& pre_path, const std::vector<StoredTree>& forest, const GenoStore& g,
                       const DataSet& d);
