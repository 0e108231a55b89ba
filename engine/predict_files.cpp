// The vote of a forest on the files to classify, and their ".pre" files.
#include "predict_files.hpp"

#include <cstdio>

#include "outfile.hpp"
#include "workflow.hpp"

namespace forests {

std::vector<int> forest_votes(const VotingForest& forest, const CasesToClassify& cases) {
  std::vector<int> votes(static_cast<std::size_t>(cases.ncase) * forest.nclass, 0);
  for (int i = 0; i < cases.ncase; ++i) {
    int* case_votes = votes.data() + static_cast<std::size_t>(i) * forest.nclass;
    for (const StoredTree& tree : *forest.trees) ++case_votes[cases.tree_class(tree, i)];
  }
  return votes;
}

void write_predicted_labels(const std::string& path, const VotingForest& forest, const std::vector<int>& votes) {
  const int ncase = forest.nclass > 0 ? static_cast<int>(votes.size() / forest.nclass) : 0;
  OutFile out(path, "w");
  out.printf("The number of samples for prediction is %d\n", ncase);
  for (int i = 0; i < ncase; ++i) {
    const int c = majority_class(votes.data() + static_cast<std::size_t>(i) * forest.nclass, forest.nclass);
    out.printf("%d\n", (*forest.class_label)[c]);
  }
  out.close();
}

void predict_files(const std::vector<std::string>& files, const OutputNames& output, const VotingForest& forest,
                   const CaseReader& read, const RunClock& clock, bool vote_shares) {
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::string& name = files[k];
    std::fflush(stdout);  // the console shows both streams in the order they were written
    std::optional<CasesToClassify> cases;
    {
      InFile file = open_data_file(name);
      TokenReader in(file.get());
      cases = read(in);
    }
    if (!cases) {
      std::fprintf(stderr, "%d testdata isn't qualified.\n", static_cast<int>(k));
      continue;
    }
    const std::vector<int> votes = forest_votes(forest, *cases);
    write_predicted_labels(output.for_file(name, ".pre"), forest, votes);
    if (vote_shares) write_vote_shares(output.for_file(name, ".votes"), *forest.class_label, votes);
    std::printf("Finish predicting %s.\t\tRunning time:%fs\n", name.c_str(), clock.seconds());
  }
}

}  // namespace forests
