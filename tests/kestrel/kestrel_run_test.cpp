#include <gtest/gtest.h>

#include "run_program.hpp"

namespace {

// Cases whose class follows covariate `sig` (> 4), one nominal covariate with missing cells,
// one noise covariate and one covariate missing in half of the cases.
std::string planted_data() {
  std::string s = "o n o o r\nsig kind noise holes status\n";
  for (int i = 0; i < 40; ++i) {
    int sig = i % 10, kind = (i * 7) % 3 + 1, noise = (i * 13) % 17;
    std::string kind_text = i % 9 == 0 ? "NA" : std::to_string(kind);
    std::string holes = i % 2 ? "NA" : std::to_string(i % 5);
    s += std::to_string(sig) + " " + kind_text + " " + std::to_string(noise) + " " + holes + " " +
         std::to_string(sig > 4 ? 2 : 1) + "\n";
  }
  return s;
}

ProgramRun kestrel(const ScratchDir& dir, const std::vector<std::string>& args) {
  return run_program(KESTREL_EXE, args, dir);
}

}  // namespace

TEST(KestrelRun, PlantedSignalAndFileLayout) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  ProgramRun r = kestrel(dir, {"-t", "d.txt", "-seed", "7", "-n", "5", "-perm", "1", "-minnode", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto out = lines_of(r.out);
  ASSERT_EQ(out.size(), 5u + 1 + 5 + 1 + 1);
  EXPECT_EQ(out[0].rfind("Number of trees completed: 1.\t\tRunning time: ", 0), 0u);
  EXPECT_EQ(out[5].rfind("finish permute 0 at: ", 0), 0u);
  EXPECT_EQ(out.back(), "Finish building.");

  auto inf = lines_of(dir.read("d.txt.inf"));
  EXPECT_EQ(inf[inf.size() - 8], "*   Part II: Information for each of the 5 trees    *");
  EXPECT_EQ(inf[inf.size() - 6], "");
  // The planted covariate splits the root of every tree at 4: perfectly.
  EXPECT_EQ(inf[inf.size() - 5].substr(0, 20), "1: 1 2 1 4.000000 2 ");

  auto imp = lines_of(dir.read("d.txt.importance"));
  ASSERT_EQ(imp.size(), 2u + 4 + 1);
  EXPECT_EQ(imp[0], "4");
  EXPECT_EQ(imp[1], "index\tMCC importance\tp_value\tLCC");
  EXPECT_EQ(imp[2].substr(0, 4), "sig\t");
  EXPECT_EQ(imp[2].substr(imp[2].size() - 11), "\t0.000000\t ");  // maximum at a root
  EXPECT_EQ(imp[5], "holes\t0\t1\tNA");  // half missing: screened out
  EXPECT_EQ(imp[6].substr(0, 5), "max1\t");
  EXPECT_EQ(imp[6].substr(imp[6].size() - 6), "\tNA\tNA");

  // The same seed gives the same files.
  std::string inf_text = dir.read("d.txt.inf"), imp_text = dir.read("d.txt.importance");
  ASSERT_EQ(kestrel(dir, {"-t", "d.txt", "-seed", "7", "-n", "5", "-perm", "1", "-minnode", "2"}).status, 0);
  EXPECT_EQ(dir.read("d.txt.inf"), inf_text);
  EXPECT_EQ(dir.read("d.txt.importance"), imp_text);
}

TEST(KestrelRun, WithoutPermutationsThePValueIsNA) {
  ScratchDir dir;
  dir.write("d.txt", planted_data());
  ProgramRun r = kestrel(dir, {"-t", "d.txt", "-seed", "1", "-n", "2", "-perm", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto imp = lines_of(dir.read("d.txt.importance"));
  ASSERT_EQ(imp.size(), 6u);
  EXPECT_NE(imp[2].find("\tNA\t"), std::string::npos);
}

TEST(KestrelRun, ProgressLinesEveryThousandTrees) {
  ScratchDir dir;
  dir.write("d.txt", "o r\na y\n1 0\n2 1\n");
  ProgramRun r = kestrel(dir, {"-t", "d.txt", "-seed", "1", "-n", "2000", "-perm", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto out = lines_of(r.out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].rfind("Number of trees completed: 1000.    Running time: ", 0), 0u);
  EXPECT_EQ(out[1].rfind("Number of trees completed: 2000.    Running time: ", 0), 0u);
  EXPECT_EQ(lines_of(dir.read("d.txt.inf")).size(), 18u + 2000);
}

TEST(KestrelRun, OneNodeTreesWhenNothingSplits) {
  ScratchDir dir;
  dir.write("d.txt", "o r\na y\n1 0\n1 1\n1 0\n");
  ProgramRun r = kestrel(dir, {"-t", "d.txt", "-seed", "1", "-n", "1", "-perm", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto inf = lines_of(dir.read("d.txt.inf"));
  EXPECT_EQ(inf.back(), "1: 1 0 2 1 ");
  EXPECT_EQ(dir.read("d.txt.importance"), "1\nindex\tMCC importance\tp_value\tLCC\na\t0.000000\t0.000000\tNA\nmax1\t0.000000\tNA\tNA\n");
}

TEST(KestrelRun, CommandLineAndFileErrors) {
  ScratchDir dir;
  dir.write("d.txt", "o r\na y\n1 0\n2 1\n");
  ProgramRun r = kestrel(dir, {"-x", "1"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(lines_of(r.err)[0], "parameter error!");
  r = kestrel(dir, {"-N", "5"});
  EXPECT_EQ(lines_of(r.err)[0], "parameter error!");
  r = kestrel(dir, {"-t", "d.txt", "-n"});  // a word without its value
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "parameter error!\nOption -n needs a value (N) after it.\n");
  EXPECT_FALSE(dir.exists("d.txt.inf"));

  r = kestrel(dir, {"-t", "nothere.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, " Data file nothere.txt does not exist!\n");

  r = kestrel(dir, {"-t", "d.txt", "-m", "2"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("-m 2"), std::string::npos);

  dir.write("bad.txt", "o r\na y\n1 0\nx 1\n");
  r = kestrel(dir, {"-t", "bad.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Invalid data at line 2 variable number 0 value = x !\n");

  r = kestrel(dir, {"-t", "/proc/version"});  // readable, but its report cannot be created
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Cannot over-write to file /proc/version.inf. It seems protected.\n");
}
