#include <gtest/gtest.h>

#include <filesystem>

#include "run_program.hpp"

namespace {

ProgramRun wren(const ScratchDir& dir, const std::vector<std::string>& args) {
  return run_program(WREN_EXE, args, dir);
}

// Class follows sig (above 4); kind is nominal with missing cells; noise is noise.
std::string planted_data(int ncase = 40) {
  std::string s = "o n o r\nsig kind noise status\n";
  for (int i = 0; i < ncase; ++i) {
    const int sig = i % 10, kind = (i * 7) % 3 + 1, noise = (i * 13) % 17;
    s += std::to_string(sig) + " " + (i % 9 == 0 ? "NA" : std::to_string(kind)) + " " + std::to_string(noise) +
         " " + std::to_string(sig > 4 ? 2 : 1) + "\n";
  }
  return s;
}

// The tree lines of a report.
std::vector<std::string> tree_lines(const std::string& inf) {
  std::vector<std::string> trees;
  bool after_banner = false;
  for (const std::string& line : lines_of(inf)) {
    if (after_banner && !line.empty() && line[0] != '*') trees.push_back(line);
    if (line.find("Part II") != std::string::npos) after_banner = true;
  }
  return trees;
}

}  // namespace

TEST(WrenRun, CommandLineErrorsStopBeforeAnyFile) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  for (const auto& args : std::vector<std::vector<std::string>>{{"-t", "d.txt", "-x", "1"}, {"-t", "d.txt", "-o"}}) {
    ProgramRun r = wren(dir, args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(lines_of(r.err)[0], "parameter error!");
  }
  ProgramRun r = wren(dir, {"-t", "d.txt", "-o", "0"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "-o 0 is out of range: the allowed values are at least 1.\n");
  EXPECT_EQ(wren(dir, {"-t", "d.txt", "-n", "-2"}).status, 255);
  EXPECT_FALSE(dir.exists("d.txt.inf"));
  EXPECT_FALSE(dir.exists("d.txt.count"));

  r = wren(dir, {"-t", "none.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Data file none.txt does not exist!\n");
}

TEST(WrenRun, DefaultsOnBrambleAndTwoUsableCovariates) {
  ScratchDir dir;
  // Without arguments wren reads bramble.txt; two of its three covariates are usable with -r 0
  // (kind has missing cells), so ntop and nsub become 2 and the forest has 8 trees.
  dir.write("bramble.txt", planted_data());
  ProgramRun r = wren(dir, {"-r", "0", "-s", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto out = lines_of(r.out);
  ASSERT_EQ(out.size(), 1u + 8 + 1);
  EXPECT_EQ(out[0].rfind("Finish loading.\t\tRunning time:", 0), 0u);
  EXPECT_EQ(out[8].rfind("Number of trees completed: 8.\t\tRunning time: ", 0), 0u);
  EXPECT_EQ(out[9].rfind("Finish building.\t\tRunning time:", 0), 0u);
  const std::string inf = dir.read("bramble.txt.inf");
  EXPECT_NE(inf.find("*   Part II: Information for each of the 8 trees    *\n"), std::string::npos);
  const auto trees = tree_lines(inf);
  ASSERT_EQ(trees.size(), 8u);
  EXPECT_EQ(trees[0].substr(0, 11), "1: 1 2 1 4 ");  // sig splits the root perfectly at 4
  EXPECT_EQ(trees[7].substr(0, 3), "8: ");
  EXPECT_EQ(trees[0].back(), ' ');
  // "-s 2" changes nothing.
  ASSERT_EQ(wren(dir, {"-r", "0"}).status, 0);
  EXPECT_EQ(dir.read("bramble.txt.inf"), inf);
}

TEST(WrenRun, CutOffsAsSpelledAndMissingValuesGoingRight) {
  ScratchDir dir;
  dir.write("d.txt", "o r\na y\n0.25 0\n0.50 0\nNA 1\n1.00 1\n2 1\n");
  ASSERT_EQ(wren(dir, {"-t", "d.txt", "-o", "1", "-n", "1"}).status, 0);
  EXPECT_EQ(tree_lines(dir.read("d.txt.inf")), (std::vector<std::string>{"1: 1 2 1 0.50|NA 2 0 2 0 3 0 0 3 "}));
}

TEST(WrenRun, SingleNodeForestPredictsTheTrainingMajority) {
  ScratchDir dir;
  // The covariate is constant: no root split qualifies and every tree is the root alone.
  dir.write("d.txt", "o r\na y\n1 3\n1 7\n1 7\n1 3\n1 7\n");
  dir.write("p.txt", "o\na\n5\n1\nNA\n");
  ProgramRun r = wren(dir, {"-t", "d.txt", "-p", "p.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree_lines(dir.read("d.txt.inf")), (std::vector<std::string>{"1: 1 0 2 3 "}));
  EXPECT_EQ(dir.read("d.txt.count"), "The number of variables selected is 0\nindex count\n");
  EXPECT_EQ(dir.read("p.txt.pre"), "The number of samples for prediction is 3\n7\n7\n7\n");
}

TEST(WrenRun, EmptyTopRowsGiveSingleNodeTreesThatAreStillCounted) {
  ScratchDir dir;
  // Only sig can split the root; noise is constant. With -o 2 the second root row is empty.
  std::string s = "o o r\nsig noise y\n";
  for (int i = 0; i < 8; ++i) s += std::to_string(i) + " 5 " + std::to_string(i < 4 ? 0 : 1) + "\n";
  dir.write("d.txt", s);
  dir.write("p.txt", "o o\nsig noise\n1 5\n6 5\n");
  ProgramRun r = wren(dir, {"-t", "d.txt", "-o", "2", "-n", "1", "-p", "p.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree_lines(dir.read("d.txt.inf")),
            (std::vector<std::string>{"1: 1 2 1 3 2 0 4 0 3 0 0 4 ", "2: 1 0 4 4 "}));
  EXPECT_EQ(dir.read("d.txt.count"), "The number of variables selected is 1\nindex count\nsig 1\n");
  // One vote each way for the second case: the lower class wins.
  EXPECT_EQ(dir.read("p.txt.pre"), "The number of samples for prediction is 2\n0\n0\n");
}

TEST(WrenRun, PredictionFilesInOrderAndUnqualifiedOnesSkipped) {
  ScratchDir dir;
  dir.write("d.txt", planted_data(60));
  dir.write("a.txt", "o d n o\nsig extra kind noise\n7 0 2 3\n1 0 NA 3\n9 0 5 1\n");
  dir.write("b.txt", "o o o\nsig kind noise\n7 2 3\n");  // kind is nominal in training
  ProgramRun r = wren(dir, {"-t", "d.txt", "-p", "b.txt", "-p", "a.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "0 testdata isn't qualified.\n");
  const auto out = lines_of(r.out);
  EXPECT_EQ(out.back().rfind("Finish predicting a.txt.\t\tRunning time:", 0), 0u);
  EXPECT_EQ(out[out.size() - 2].rfind("Finish building.", 0), 0u);
  EXPECT_EQ(dir.read("b.txt.pre"), "");
  EXPECT_EQ(dir.read("a.txt.pre"), "The number of samples for prediction is 3\n2\n1\n2\n");
  // No randomness anywhere: a second run gives the same files.
  const std::string inf = dir.read("d.txt.inf"), pre = dir.read("a.txt.pre"), count = dir.read("d.txt.count");
  ASSERT_EQ(wren(dir, {"-t", "d.txt", "-p", "b.txt", "-p", "a.txt"}).status, 0);
  EXPECT_EQ(dir.read("d.txt.inf"), inf);
  EXPECT_EQ(dir.read("a.txt.pre"), pre);
  EXPECT_EQ(dir.read("d.txt.count"), count);
}

TEST(WrenRun, UnseenCategoriesGetTheSameRandomCodeEveryRun) {
  ScratchDir dir;
  // c has categories 1 2 3 without missing cells or merging: an unseen 8 takes a random one.
  std::string s = "n o r\nc x y\n";
  for (int i = 0; i < 30; ++i) s += std::to_string(i % 3 + 1) + " " + std::to_string(i % 7) + " " +
                                    std::to_string(i % 3 == 0 ? 1 : 0) + "\n";
  dir.write("d.txt", s);
  std::string p = "n o\nc x\n";
  for (int i = 0; i < 20; ++i) p += "8 " + std::to_string(i % 7) + "\n";
  dir.write("p.txt", p);
  ASSERT_EQ(wren(dir, {"-t", "d.txt", "-p", "p.txt"}).status, 0);
  const std::string first = dir.read("p.txt.pre");
  ASSERT_EQ(lines_of(first).size(), 21u);
  EXPECT_NE(first.find("\n1\n"), std::string::npos);  // some drawn code is category 1
  ASSERT_EQ(wren(dir, {"-t", "d.txt", "-p", "p.txt"}).status, 0);
  EXPECT_EQ(dir.read("p.txt.pre"), first);
}

TEST(WrenRun, MissingOrUnwritablePredictionFilesStopBeforeTheForest) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  dir.write("a.txt", "o n o\nsig kind noise\n1 1 1\n");
  ProgramRun r = wren(dir, {"-t", "d.txt", "-p", "a.txt", "-p", "b.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Data file b.txt does not exist!\n");
  EXPECT_EQ(r.out, "");
  for (const char* output : {"d.txt.inf", "d.txt.count", "a.txt.pre"}) EXPECT_FALSE(dir.exists(output)) << output;

  std::filesystem::create_directory(dir.file("a.txt.pre"));  // cannot be opened for writing
  r = wren(dir, {"-t", "d.txt", "-p", "a.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Cannot over-write to file a.txt.pre. It seems protected.");
}
