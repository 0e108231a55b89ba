// What plover does with its grown trees: out-of-bag votes and errors, the permutation
// importance, and the class a tree gives a case of a genotype store.
#pragma once

#include <string>
#include <vector>

#include "data_set.hpp"
#include "descend.hpp"
#include "genotypes.hpp"
#include "parallel.hpp"
#include "predict_files.hpp"
#include "random.hpp"

namespace forests {

// Usable covariates: at most ncase * max_missing missing genotypes.
std::vector<int> screen_genotypes(const GenoStore& g, double max_missing, int& nusable, WorkerPool* pool = nullptr);

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

  OobTally(int ncase, int nclass, int ncov);
};

// The out-of-bag work lists of one tree.
struct TreeOob {
  std::vector<int> oob_cases, oob_node;  // out-of-bag cases and their terminal nodes
  std::vector<int> parent;               // each node's parent
  std::vector<int> used;                 // covariates taking part
  long long tree_err = 0;                // out-of-bag cases the tree misclassifies
  std::vector<int> perm;                 // the permuted cases (side by side: one row per covariate)
  std::vector<std::vector<char>> below;  // per thread: nodes below a split on the permuted covariate
  std::vector<long long> err;            // per covariate taking part: errors when permuted
};

// Covariates that take part in the importance of a tree: usable, and the first node that names
// them has daughters. In increasing order.
std::vector<int> covariates_taking_part(const StoredTree& t, const std::vector<int>& var_usable);

// The work lists of a tree's out-of-bag cases and importance, from its bootstrap sample.
void list_out_of_bag(const StoredTree& t, const std::vector<int>& in_bag, const std::vector<int>& var_usable,
                     TreeOob& oob);

// The votes and errors of the tree's own out-of-bag cases, and their terminal nodes.
void classify_out_of_bag(const StoredTree& t, const GenoStore& g, const DataSet& d, OobTally& tally, TreeOob& oob);

// The draws the importance of a tree takes (one shuffle of the out-of-bag cases per covariate
// taking part), or -1 when that number is not fixed in advance.
long long importance_draws(const TreeOob& oob);

// The errors with each covariate taking part permuted among the out-of-bag cases, the
// permutation compounding from covariate to covariate: the shuffles drawn from `random` in
// order, one covariate after the other, on this thread.
void permuted_errors_in_order(const StoredTree& t, const GenoStore& g, const DataSet& d, RandomStream& random,
                              TreeOob& oob);

// The same with the shuffles drawn from the process-wide generator by one task while the
// others run the descents of the covariates already shuffled.
void permuted_errors_side_by_side(const StoredTree& t, const GenoStore& g, const DataSet& d, TreeOob& oob,
                                  WorkerPool* pool);

// Adds the tree's permuted errors to the tally: a covariate not taking part leaves every
// classification as it was.
void add_permuted_errors(const TreeOob& oob, OobTally& tally);

// A tree's out-of-bag work once its lists are made: the votes and errors of its out-of-bag
// cases, then its permuted errors added to the tally. The shuffles come from `random` on this
// thread when given, else from the process-wide generator with the descents on the pool.
void out_of_bag_work(const StoredTree& t, const GenoStore& g, const DataSet& d, OobTally& tally, TreeOob& oob,
                     RandomStream* random, WorkerPool* pool);

// Votes and errors of the tree's out-of-bag cases, then for each covariate the errors with its
// genotypes permuted among them (one shuffle per taking part covariate, compounding).
void out_of_bag_pass(const StoredTree& t, const GenoStore& g, const DataSet& d, const std::vector<int>& in_bag,
                     const std::vector<int>& var_usable, OobTally& tally, WorkerPool* pool = nullptr);

// Share of cases whose majority out-of-bag vote is wrong (no votes count as class 0).
double oob_error_rate(const OobTally& tally, const DataSet& d);

void write_importance_file(const std::string& path, const DataSet& d, const OobTally& tally, int ntree);

// Reads files to classify into `g` for the forest grown on `d`.
CaseReader genotype_case_reader(const DataSet& d, GenoStore& g);

// A saved forest's covariates must be genotypes: nominal ones have the four genotype codes.
void check_genotype_model(const DataSet& model, const std::string& forest_file);

// The out-of-bag error rate and the table of true by out-of-bag predicted labels (a case that
// was never out of bag counting as the first label, as in the rate), on standard output.
void print_out_of_bag_confusion(const OobTally& tally, const DataSet& d);

}  // namespace forests
