// plover's out-of-bag error and permutation importance, and the class a tree gives a genotype case.
#include "forest.hpp"

#include <algorithm>
#include <atomic>

#include "random.hpp"
#include "tree_text.hpp"

namespace forests {

std::vector<int> screen_genotypes(const GenoStore& g, double max_missing, int& nusable, WorkerPool* pool) {
  std::vector<int> var_usable = ivector(g.ncov);
  // The words hold nothing past the last case.
  const int ngroup = (g.ncov + 15) / 16;
  run_tasks(pool, ngroup, [&](int w, int) {
    for (int j = 16 * w; j < std::min(g.ncov, 16 * w + 16); ++j)
      var_usable[j] = within_missing_share(count_missing(g.column(j), g.stride), g.ncase, max_missing) ? 1 : 0;
  });
  nusable = 0;
  for (int j = 0; j < g.ncov; ++j) nusable += var_usable[j];
  return var_usable;
}

namespace {

const std::vector<int>& labels_of(int) { return geno_label(); }

}  // namespace

int terminal_node(const StoredTree& t, const GenoStore& g, const std::vector<int>& ncat, int i) {
  return descend_node(t, ncat, kMissingGenotype, [&](int v) { return geno_get(g, v, i); }, labels_of);
}

int classify(const StoredTree& t, const GenoStore& g, const std::vector<int>& ncat, int i) {
  return t.node_class[terminal_node(t, g, ncat, i)];
}

int classify_with_donor(const StoredTree& t, const GenoStore& g, const std::vector<int>& ncat, int i, int j,
                        int donor) {
  return descend(
      t, ncat, kMissingGenotype, [&](int v) { return geno_get(g, v, v == j ? donor : i); }, labels_of);
}

OobTally::OobTally(int ncase, int nclass_, int ncov)
    : nclass(nclass_), oob_votes(ivector(static_cast<std::size_t>(ncase) * nclass_)), perm_err(ncov, 0) {}

std::vector<int> covariates_taking_part(const StoredTree& t, const std::vector<int>& var_usable) {
  std::vector<std::pair<int, int>> named;  // (covariate, node); stable order keeps the first node first
  for (int a = 0; a < t.node_count; ++a)
    if (t.split_var[a] >= 0) named.emplace_back(t.split_var[a], a);
  std::stable_sort(named.begin(), named.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<int> used;
  for (std::size_t k = 0; k < named.size(); ++k) {
    if (k > 0 && named[k].first == named[k - 1].first) continue;
    const auto [v, a] = named[k];
    if (var_usable[v] && t.left_daughter[a] != 0) used.push_back(v);
  }
  return used;
}

void list_out_of_bag(const StoredTree& t, const std::vector<int>& in_bag, const std::vector<int>& var_usable,
                     TreeOob& oob) {
  oob.oob_cases.clear();
  for (int i = 0; i < static_cast<int>(in_bag.size()); ++i)
    if (!in_bag[i]) oob.oob_cases.push_back(i);
  oob.parent.assign(t.node_count, 0);
  for (int a = 0; a < t.node_count; ++a)
    if (t.left_daughter[a] != 0) oob.parent[t.left_daughter[a]] = oob.parent[t.left_daughter[a] + 1] = a;
  oob.used = covariates_taking_part(t, var_usable);
  oob.err.assign(oob.used.size(), 0);
}

void classify_out_of_bag(const StoredTree& t, const GenoStore& g, const DataSet& d, OobTally& tally, TreeOob& oob) {
  oob.tree_err = 0;
  oob.oob_node.resize(oob.oob_cases.size());
  for (std::size_t k = 0; k < oob.oob_cases.size(); ++k) {
    const int i = oob.oob_cases[k];
    const int a = terminal_node(t, g, d.ncat, i);
    const int c = t.node_class[a];
    ++tally.oob_votes[static_cast<std::size_t>(i) * tally.nclass + c];
    if (c != d.y[i]) ++oob.tree_err;
    oob.oob_node[k] = a;
  }
  tally.oob_err_total += oob.tree_err;
}

long long importance_draws(const TreeOob& oob) {
  const long long noob = static_cast<long long>(oob.oob_cases.size());
  // A shuffle of n cases draws once for each bound n, n-1, ..., 2; bounds of 32767 and more
  // may take more.
  if (noob >= 32767) return -1;
  return static_cast<long long>(oob.used.size()) * std::max(0LL, noob - 1);
}

namespace {

// below[a]: some split on covariate j lies on the way from the root to node a.
void mark_below_split(const StoredTree& t, const std::vector<int>& parent, int j, std::vector<char>& below) {
  below.assign(t.node_count, 0);
  for (int a = 1; a < t.node_count; ++a) below[a] = below[parent[a]] || t.split_var[parent[a]] == j;
}

// Errors of the out-of-bag cases with covariate j taken from the cases of `perm`.
long long permuted_errors(const StoredTree& t, const GenoStore& g, const DataSet& d, int j, const TreeOob& oob,
                          const int* perm, std::vector<char>& below) {
  mark_below_split(t, oob.parent, j, below);
  long long err = 0;
  for (std::size_t k = 0; k < oob.oob_cases.size(); ++k) {
    const int i = oob.oob_cases[k];
    const int a = oob.oob_node[k];
    // A case that met no split on j ends where it did unpermuted.
    const int c = below[a] ? classify_with_donor(t, g, d.ncat, i, j, perm[k]) : t.node_class[a];
    err += c != d.y[i];
  }
  return err;
}

}  // namespace

void permuted_errors_in_order(const StoredTree& t, const GenoStore& g, const DataSet& d, RandomStream& random,
                              TreeOob& oob) {
  const int noob = static_cast<int>(oob.oob_cases.size());
  oob.perm = oob.oob_cases;
  if (oob.below.empty()) oob.below.resize(1);
  for (std::size_t u = 0; u < oob.used.size(); ++u) {
    random.shuffle(oob.perm.data(), noob);
    oob.err[u] = permuted_errors(t, g, d, oob.used[u], oob, oob.perm.data(), oob.below[0]);
  }
}

void permuted_errors_side_by_side(const StoredTree& t, const GenoStore& g, const DataSet& d, TreeOob& oob,
                                  WorkerPool* pool) {
  const int nused = static_cast<int>(oob.used.size());
  const int noob = static_cast<int>(oob.oob_cases.size());
  oob.perm.resize(static_cast<std::size_t>(nused) * noob);
  std::atomic<int> shuffled{0};
  auto draw_shuffles = [&] {
    std::vector<int> order = oob.oob_cases;
    for (int u = 0; u < nused; ++u) {
      shuffle_ints(order.data(), noob);
      std::copy(order.begin(), order.end(), oob.perm.begin() + static_cast<std::size_t>(u) * noob);
      shuffled.store(u + 1, std::memory_order_release);
    }
  };
  const int threads = pool ? pool->threads() : 1;
  if (oob.below.size() < static_cast<std::size_t>(threads)) oob.below.resize(threads);
  const bool worth_threads = static_cast<long long>(nused) * noob >= 32768;
  run_tasks(worth_threads ? pool : nullptr, nused + 1, [&](int task, int thread) {
    if (task == 0) {
      draw_shuffles();
      return;
    }
    const int u = task - 1;
    while (shuffled.load(std::memory_order_acquire) <= u) cpu_relax();
    oob.err[u] = permuted_errors(t, g, d, oob.used[u], oob, oob.perm.data() + static_cast<std::size_t>(u) * noob,
                                 oob.below[thread]);
  });
}

void add_permuted_errors(const TreeOob& oob, OobTally& tally) {
  std::size_t next_used = 0;
  for (std::size_t j = 0; j < tally.perm_err.size(); ++j) {
    if (next_used < oob.used.size() && oob.used[next_used] == static_cast<int>(j))
      tally.perm_err[j] += oob.err[next_used++];
    else
      tally.perm_err[j] += oob.tree_err;
  }
}

void out_of_bag_work(const StoredTree& t, const GenoStore& g, const DataSet& d, OobTally& tally, TreeOob& oob,
                     RandomStream* random, WorkerPool* pool) {
  classify_out_of_bag(t, g, d, tally, oob);
  if (random)
    permuted_errors_in_order(t, g, d, *random, oob);
  else
    permuted_errors_side_by_side(t, g, d, oob, pool);
  add_permuted_errors(oob, tally);
}

void out_of_bag_pass(const StoredTree& t, const GenoStore& g, const DataSet& d, const std::vector<int>& in_bag,
                     const std::vector<int>& var_usable, OobTally& tally, WorkerPool* pool) {
  TreeOob oob;
  list_out_of_bag(t, in_bag, var_usable, oob);
  out_of_bag_work(t, g, d, tally, oob, nullptr, pool);
}

double oob_error_rate(const OobTally& tally, const DataSet& d) {
  int wrong = 0;
  for (int i = 0; i < d.ncase; ++i)
    wrong += majority_class(&tally.oob_votes[static_cast<std::size_t>(i) * tally.nclass], tally.nclass) != d.y[i];
  return static_cast<double>(wrong) / d.ncase;
}

void write_importance_file(const std::string& path, const DataSet& d, const OobTally& tally, int ntree) {
  OutFile out(path, "w");
  out.printf("The out of bag error rate is %lf\n", oob_error_rate(tally, d));
  out.printf("The number of samples is %d\n", d.ncase);
  out.puts("index importance\n");
  for (int j = 0; j < d.ncov; ++j) {
    const long long imp_score = tally.perm_err[j] - tally.oob_err_total;
    out.printf("%s %lf\n", d.name[j].c_str(), static_cast<double>(imp_score) / ntree);
  }
  out.close();
}

CaseReader genotype_case_reader(const DataSet& d, GenoStore& g) {
  return [&d, &g](TokenReader& in) -> std::optional<CasesToClassify> {
    if (!read_genotype_prediction(in, d, g)) return std::nullopt;
    return CasesToClassify{g.ncase, [&d, &g](const StoredTree& t, int i) { return classify(t, g, d.ncat, i); }};
  };
}

void check_genotype_model(const DataSet& model, const std::string& forest_file) {
  for (int j = 0; j < model.ncov; ++j)
    if (model.ncat_orig[j] == kNominal && model.ori_catg[j] != geno_label())
      fail(format("Forest file %s is damaged: covariate %s does not have the genotype codes 0 1 2 3.\n",
                  forest_file.c_str(), model.name[j].c_str()));
}

void print_out_of_bag_confusion(const OobTally& tally, const DataSet& d) {
  std::vector<long long> table(static_cast<std::size_t>(d.nclass) * d.nclass, 0);
  for (int i = 0; i < d.ncase; ++i)
    ++table[static_cast<std::size_t>(d.y[i]) * d.nclass +
            majority_class(&tally.oob_votes[static_cast<std::size_t>(i) * tally.nclass], tally.nclass)];
  std::printf("Out-of-bag error rate: %f\n", oob_error_rate(tally, d));
  std::printf("Out-of-bag confusion table (rows: true label, columns: out-of-bag predicted label):\ntrue\\predicted");
  for (int c = 0; c < d.nclass; ++c) std::printf("\t%d", d.class_label[c]);
  std::printf("\n");
  for (int t = 0; t < d.nclass; ++t) {
    std::printf("%d", d.class_label[t]);
    for (int c = 0; c < d.nclass; ++c) std::printf("\t%lld", table[static_cast<std::size_t>(t) * d.nclass + c]);
    std::printf("\n");
  }
}

}  // namespace forests
