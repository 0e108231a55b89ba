#include <gtest/gtest.h>

#include <filesystem>

#include "run_program.hpp"

namespace {

// 13 cases: g1 separates labels 1 and 2 except for the last case; g2 is constant.
std::string tiny_data() {
  std::string s = "o o r\ng1 g2 y\n";
  for (int i = 0; i < 6; ++i) s += "0 1 1\n";
  for (int i = 0; i < 6; ++i) s += "2 1 2\n";
  return s + "0 1 2\n";
}

// Labels follow `sig`; `kind` is nominal, `noise` ordinal with missing genotypes.
std::string planted_data() {
  std::string s = "n o d o r\nkind sig id noise status\n";
  for (int i = 0; i < 40; ++i) {
    const int sig = i % 3, noise = (i * 7) % 4;
    s += std::to_string((i * 5) % 3) + " " + std::to_string(sig) + " " + std::to_string(i) + " " +
         (noise == 3 ? "NA" : std::to_string(noise)) + " " + (sig == 2 ? "2" : "1") + "\n";
  }
  return s;
}

ProgramRun plover(const ScratchDir& dir, const std::vector<std::string>& args) {
  return run_program(PLOVER_EXE, args, dir);
}

}  // namespace

TEST(PloverRun, HandCheckedOutOfBagError) {
  ScratchDir dir;
  dir.write("d.txt", tiny_data());
  ProgramRun r = plover(dir, {"-t", "d.txt", "-seed", "1", "-n", "1", "-m", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Seed 1 draws the bag {1,3,3,5,7,8,8,10,10,11,11,12,12} (1-based): cases 2, 4, 6, 9 and 13
  // are out of bag. The root splits g1 at 0 into pure leaves of 4 and 9 cases.
  auto inf = lines_of(dir.read("d.txt.inf"));
  EXPECT_EQ(inf.back(), "1: 1 2 1 0 2 0 4 0 3 0 0 9 ");
  // Out of bag only case 13 is wrong; the in-bag cases of label 2 (7, 8, 10, 11, 12) have no
  // votes and count as label 1: 6 of 13 wrong. The shuffle [6, 9, 4, 13, 2] of the out-of-bag
  // cases gives cases 4, 9 and 13 the wrong side: 3 errors against 1, importance 2. g2 never
  // splits.
  EXPECT_EQ(dir.read("d.txt.importance"),
            "The out of bag error rate is 0.461538\n"
            "The number of samples is 13\n"
            "index importance\n"
            "g1 2.000000\n"
            "g2 0.000000\n");
}

TEST(PloverRun, ReportFilesAndReproducibility) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  const std::vector<std::string> args{"-t", "d.txt", "-seed", "7", "-n", "5", "-s", "0", "-r", "0"};
  ProgramRun r = plover(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  auto out = lines_of(r.out);
  ASSERT_EQ(out.size(), 2u + 5 + 1);
  EXPECT_EQ(out[0], "Number of variables used to split each node: 1");  // noise is screened out
  EXPECT_EQ(out[1].rfind("Finish loading.\t\tRunning time:", 0), 0u);
  for (int t = 1; t <= 5; ++t)
    EXPECT_EQ(out[1 + t].rfind("Number of trees completed: " + std::to_string(t) + ".\t\tRunning time: ", 0), 0u);
  EXPECT_EQ(out[7].rfind("Finish building.\t\tRunning time:", 0), 0u);

  auto inf = lines_of(dir.read("d.txt.inf"));
  EXPECT_EQ(inf[inf.size() - 8], "*   Part II: Information for each of the 5 trees    *");
  EXPECT_EQ(inf.back().rfind("5: 1 2 ", 0), 0u);  // every tree is written

  auto imp = lines_of(dir.read("d.txt.importance"));
  ASSERT_EQ(imp.size(), 6u);
  EXPECT_EQ(imp[5], "noise 0.000000");

  const std::string inf_text = dir.read("d.txt.inf"), imp_text = dir.read("d.txt.importance");
  ASSERT_EQ(plover(dir, args).status, 0);
  EXPECT_EQ(dir.read("d.txt.inf"), inf_text);
  EXPECT_EQ(dir.read("d.txt.importance"), imp_text);
}

TEST(PloverRun, ProgressEveryTenTrees) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  ProgramRun r = plover(dir, {"-t", "d.txt", "-seed", "3", "-n", "25"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto out = lines_of(r.out);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[2].rfind("Number of trees completed: 10.\t\t", 0), 0u);
  EXPECT_EQ(out[3].rfind("Number of trees completed: 20.\t\t", 0), 0u);
}

TEST(PloverRun, PredictionFilesInOrder) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  const std::string first_name(120, 'a');  // longer names than the old limit
  dir.write(first_name, "r n o d o\nstatus kind sig id noise\n9 0 0 1 1\n9 1 2 2 NA\n9 2 1 3 0\n");
  dir.write("bad.txt", "o o d o r\nkind sig id noise status\n0 0 1 1 1\n");  // kind is nominal in training
  dir.write("last.txt", "n o d o\nkind sig id noise\n1 2 1 0\n");
  ProgramRun r =
      plover(dir, {"-t", "d.txt", "-seed", "5", "-n", "9", "-p", first_name, "-p", "bad.txt", "-p", "last.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "1 testdata isn't qualified.\n");
  EXPECT_EQ(dir.read(first_name + ".pre"), "The number of samples for prediction is 3\n1\n2\n1\n");
  EXPECT_EQ(dir.read("bad.txt.pre"), "");
  EXPECT_EQ(dir.read("last.txt.pre"), "The number of samples for prediction is 1\n2\n");
  auto out = lines_of(r.out);
  EXPECT_EQ(out[out.size() - 2].rfind("Finish predicting " + first_name + ".\t\tRunning time:", 0), 0u);
  EXPECT_EQ(out.back().rfind("Finish predicting last.txt.\t\tRunning time:", 0), 0u);
}

TEST(PloverRun, StopsBeforeTheFirstTree) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  ProgramRun r = plover(dir, {"-t", "d.txt", "-x", "1"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(lines_of(r.err)[0], "parameter error!");
  EXPECT_EQ(plover(dir, {"-t", "d.txt", "-n"}).err, "parameter error!\nOption -n needs a value (N) after it.\n");
  EXPECT_FALSE(dir.exists("d.txt.inf"));

  r = plover(dir, {"-t", "d.txt", "-n", "0"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("-n 0"), std::string::npos);
  EXPECT_FALSE(dir.exists("d.txt.inf"));

  r = plover(dir, {"-t", "none.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Data file none.txt does not exist!\n");

  r = plover(dir, {"-t", "d.txt", "-p", "none.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Data file none.txt does not exist!\n");

  std::filesystem::create_directory(dir.file("p.txt.pre"));
  dir.write("p.txt", "n o d o\nkind sig id noise\n1 2 1 0\n");
  r = plover(dir, {"-t", "d.txt", "-p", "p.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Cannot over-write to file p.txt.pre. It seems protected.");

  r = plover(dir, {"-t", "d.txt", "-m", "4"});  // three usable covariates
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("-m 4"), std::string::npos);
  EXPECT_FALSE(dir.exists("d.txt.inf"));  // a run that stops leaves no report
}
