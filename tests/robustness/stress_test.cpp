// Large inputs run through to complete outputs. The data are made here, not kept in the
// repository.
#include <gtest/gtest.h>

#include <fstream>

#include "programs.hpp"

TEST(Stress, PloverOnTwentyCasesOfTwoHundredThousandMarkers) {
  const int ncov = 200'000, ncase = 20;
  ScratchDir dir;
  {
    std::ofstream out(dir.file("g.txt"), std::ios::binary);
    for (int j = 0; j < ncov; ++j) out << (j % 50 == 7 ? "n " : "o ");
    out << "r\n";
    for (int j = 0; j < ncov; ++j) out << 'm' << j << ' ';
    out << "y\n";
    for (int i = 0; i < ncase; ++i) {
      std::string row;
      for (int j = 0; j < ncov; ++j) {
        const int v = (i * 7 + j * 13 + i * j) % 4;
        row += v == 3 ? "NA " : std::string(1, static_cast<char>('0' + v)) + " ";
      }
      out << row << (i % 2 ? 2 : 1) << '\n';
    }
  }
  ProgramRun r = run_program(PLOVER_EXE, {"-t", "g.txt", "-seed", "2", "-n", "4", "-p", "g.txt"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines_of(dir.read("g.txt.inf")).size(), 17u + ncov + 4);
  EXPECT_EQ(lines_of(dir.read("g.txt.importance")).size(), 3u + ncov);
  EXPECT_EQ(lines_of(dir.read("g.txt.pre")).size(), 1u + ncase);
}

TEST(Stress, KestrelOnHundredThousandCases) {
  ScratchDir dir;
  std::string text = "o n o r\na b c y\n";
  text.reserve(2'000'000);
  for (int i = 0; i < 100'000; ++i)
    text += std::to_string(i % 997) + " " + std::to_string(i % 7) + " " + std::to_string((i * 31) % 101) + " " +
            std::to_string((i % 997) > 500 ? 1 : 0) + "\n";
  dir.write("big.txt", text);
  ProgramRun r = run_program(KESTREL_EXE, {"-t", "big.txt", "-seed", "3", "-n", "3", "-perm", "1"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines_of(dir.read("big.txt.inf")).size(), 17u + 3 + 3);
  EXPECT_EQ(lines_of(dir.read("big.txt.importance")).size(), 2u + 3 + 1);
}

TEST(Stress, WrenPredictsAMillionCases) {
  const int ncase = 1'000'000;
  ScratchDir dir;
  dir.write("d.txt", genotype_data(60));
  {
    std::ofstream out(dir.file("p.txt"), std::ios::binary);
    out << "o n o\ng1 g2 g3\n";
    std::string rows;
    for (int i = 0; i < ncase; ++i) {
      rows += std::to_string(i % 3) + (i % 11 ? " 1 " : " NA ") + std::to_string(i % 5) + "\n";
      if (rows.size() > (1 << 20)) {
        out << rows;
        rows.clear();
      }
    }
    out << rows;
  }
  // Four trees, each a single split on g1 that separates the classes.
  ProgramRun r = run_program(WREN_EXE, {"-t", "d.txt", "-o", "1", "-n", "2", "-p", "p.txt"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> pre = lines_of(dir.read("p.txt.pre"));
  ASSERT_EQ(pre.size(), 1u + ncase);
  EXPECT_EQ(pre[0], "The number of samples for prediction is 1000000");
  int wrong = 0;
  for (int i = 0; i < ncase; ++i) wrong += pre[1 + i] != (i % 3 == 2 ? "2" : "1");
  EXPECT_EQ(wrong, 0);
}
