// -save then -forest: a later run classifies files exactly as the training run did; damaged
// forest files are refused; -votes gives the vote shares behind each label.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "forest_file.hpp"
#include "run_program.hpp"
#include "workflow_data.hpp"

using namespace forests;

namespace {

// plover: the nominal g2 has no genotype 2 in training; the files to classify do.
std::string plover_training() {
  std::string s = "o n o r\ng1 g2 g3 y\n";
  for (int i = 0; i < 40; ++i)
    s += std::to_string(i % 3) + " " + std::to_string((i / 3) % 2) + " " + (i % 7 == 0 ? "NA" : std::to_string(i % 2)) +
         " " + std::to_string(1 + (i % 3 == 0)) + "\n";
  return s;
}

std::string plover_new(int shift) {
  std::string s = "o n o\ng1 g2 g3\n";
  for (int i = 0; i < 12; ++i)
    s += std::to_string((i + shift) % 3) + " " + std::to_string(i % 3) + " " + std::to_string((i * shift) % 3) + "\n";
  return s;
}

// wren: `kind` takes 0..3 in training; the files to classify hold unseen kinds (drawn at random,
// in order) and unseen ordinal values.
std::string wren_new(int shift) {
  std::string s = "o n d\nx kind id\n";
  for (int i = 0; i < 10; ++i) s += std::to_string(i * 2 + shift) + " " + std::to_string(4 + (i + shift) % 5) + " 0\n";
  return s;
}

const char* const kNotQualified = "n n r\na b y\n1 2 1\n";  // kinds differ from training

struct Program {
  const char* exe;
  const char* name;
  std::string training;
  std::function<std::string(int)> to_classify;
  std::string settings;
};

std::vector<Program> programs() {
  return {{PLOVER_EXE, "plover", plover_training(), plover_new, "-n 15 -seed 9"},
          {WREN_EXE, "wren", wren_data(), wren_new, "-o 3 -n 2"}};
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

ProgramRun run(const Program& p, const ScratchDir& dir, const std::string& args) {
  return run_program(p.exe, words(args), dir);
}

// A training run with -save -votes on three files to classify (one not qualified).
void train(const Program& p, const ScratchDir& dir) {
  dir.write("d.txt", p.training);
  dir.write("a.txt", p.to_classify(1));
  dir.write("b.txt", p.to_classify(2));
  dir.write("bad.txt", kNotQualified);
  std::filesystem::create_directory(dir.file("later"));
  const ProgramRun r = run(p, dir, "-t d.txt -p a.txt -p bad.txt -p b.txt -save -votes " + p.settings);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.err, "1 testdata isn't qualified.\n");
}

std::vector<std::vector<std::string>> rows_of(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : lines_of(text)) {
    rows.emplace_back();
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');) rows.back().push_back(cell);
  }
  return rows;
}

}  // namespace

TEST(SavedForest, LaterRunWritesTheSamePredictions) {
  for (const Program& p : programs()) {
    ScratchDir dir;
    train(p, dir);
    EXPECT_EQ(dir.read("d.txt.forest").rfind(std::string("saved-forest 1 ") + p.name + "\n", 0), 0u);
    const ProgramRun r = run(p, dir, "-forest d.txt.forest -p a.txt -p bad.txt -p b.txt -votes -out later/run");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "1 testdata isn't qualified.\n");
    for (const char* f : {"a.txt", "b.txt", "bad.txt"}) {
      EXPECT_EQ(dir.read(std::string("later/run.") + f + ".pre"), dir.read(std::string(f) + ".pre")) << p.name << f;
      EXPECT_EQ(dir.read(std::string("later/run.") + f + ".votes"), dir.read(std::string(f) + ".votes")) << f;
    }
    EXPECT_EQ(dir.read("bad.txt.pre"), "");
    EXPECT_GT(lines_of(dir.read("a.txt.pre")).size(), 10u);
    EXPECT_FALSE(dir.exists("later/run.inf"));
    EXPECT_FALSE(dir.exists("later/run.oob.votes"));
  }
}

TEST(SavedForest, DamagedOrForeignForestsAreRefused) {
  const std::vector<Program> all = programs();
  ScratchDir plover_dir, wren_dir;
  train(all[0], plover_dir);
  train(all[1], wren_dir);
  const std::string forest = wren_dir.read("d.txt.forest");
  std::string flipped = forest;
  flipped[forest.size() / 2] ^= 4;
  std::string newer = forest;
  newer.replace(0, 14, "saved-forest 7");
  wren_dir.write("cut.forest", forest.substr(0, forest.size() * 2 / 3));
  wren_dir.write("flipped.forest", flipped);
  wren_dir.write("newer.forest", newer);
  wren_dir.write("plover.forest", plover_dir.read("d.txt.forest"));
  const std::vector<std::pair<std::string, std::string>> refused{
      {"cut.forest", "Forest file cut.forest is cut short: its end line is missing.\n"},
      {"flipped.forest", "Forest file flipped.forest is damaged: its content does not match its check.\n"},
      {"newer.forest", "Forest file newer.forest has format version 7; this wren reads version 1 and older.\n"},
      {"plover.forest", "Forest file plover.forest holds a forest of plover; wren cannot use it.\n"},
      {"d.txt", "d.txt is not a saved forest file.\n"},
      {"none.forest", "Forest file none.forest cannot be opened.\n"},
  };
  for (const auto& [file, message] : refused) {
    const ProgramRun r = run(all[1], wren_dir, "-forest " + file + " -p a.txt -out later/x");
    EXPECT_EQ(r.status, 255) << file;
    EXPECT_EQ(r.err, message);
    EXPECT_TRUE(std::filesystem::is_empty(wren_dir.file("later"))) << file;
  }
  const Program& p = all[0];
  // A plover forest whose nominal covariate lost its genotype codes, behind a matching check.
  std::string recoded = plover_dir.read("d.txt.forest");
  recoded.replace(recoded.find("n g2 4 0 1 2 3"), 14, "n g2 4 0 1 2 5");
  recoded.resize(recoded.rfind("end "));
  recoded += format("end %016llx\n", static_cast<unsigned long long>(forest_check(recoded)));
  plover_dir.write("recoded.forest", recoded);
  EXPECT_EQ(run(p, plover_dir, "-forest recoded.forest -p a.txt").err,
            "Forest file recoded.forest is damaged: covariate g2 does not have the genotype codes 0 1 2 3.\n");
  EXPECT_EQ(run(p, plover_dir, "-forest d.txt.forest").err, "-forest d.txt.forest needs at least one -p FILE to classify.\n");
  EXPECT_EQ(run(p, plover_dir, "-forest d.txt.forest -p a.txt -save").err,
            "-save keeps a forest that this run grows; with -forest no forest is grown.\n");
}

TEST(VoteShares, RowsSumToOneAndHoldThePredictedLabel) {
  for (const Program& p : programs()) {
    ScratchDir dir;
    train(p, dir);
    for (const char* f : {"a.txt", "b.txt"}) {
      const auto rows = rows_of(dir.read(std::string(f) + ".votes"));
      const auto pre = lines_of(dir.read(std::string(f) + ".pre"));
      ASSERT_EQ(rows.size(), pre.size());
      ASSERT_GE(rows[0].size(), 3u);
      EXPECT_EQ(rows[0][0], "case");
      for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), rows[0].size()) << p.name;
        EXPECT_EQ(rows[i][0], std::to_string(i));
        double sum = 0, best = 0, of_label = -1;
        for (std::size_t c = 1; c < rows[i].size(); ++c) {
          const double share = std::stod(rows[i][c]);
          EXPECT_EQ(rows[i][c].size() - rows[i][c].find('.'), 7u);  // six decimals
          sum += share;
          best = std::max(best, share);
          if (rows[0][c] == pre[i]) of_label = share;
        }
        EXPECT_NEAR(sum, 1.0, 1e-5) << p.name << " " << f << " case " << i;
        EXPECT_EQ(of_label, best) << p.name << " " << f << " case " << i;
      }
    }
  }
}

TEST(VoteShares, PloverOutOfBagSharesAndConfusionTable) {
  ScratchDir dir;
  dir.write("d.txt", plover_training());
  const Program plover = programs()[0];
  const ProgramRun one = run(plover, dir, "-t d.txt -n 1 -seed 3 -votes");
  ASSERT_EQ(one.status, 0) << one.err;
  const auto rows = rows_of(dir.read("d.txt.oob.votes"));
  ASSERT_EQ(rows.size(), 41u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"case", "1", "2"}));
  int in_bag = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i][1] == "NA") {
      ++in_bag;
      EXPECT_EQ(rows[i][2], "NA");
    } else {
      EXPECT_TRUE(rows[i][1] == "1.000000" || rows[i][1] == "0.000000") << rows[i][1];  // one tree
    }
  }
  EXPECT_GT(in_bag, 15);  // a bootstrap sample holds about 63% of the cases

  const ProgramRun r = run(plover, dir, "-t d.txt -n 30 -seed 3 -votes");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto out = lines_of(r.out);
  const auto at = std::find_if(out.begin(), out.end(), [](const std::string& l) { return l.rfind("Out-of-bag error", 0) == 0; });
  ASSERT_NE(at, out.end());
  const std::string rate = at->substr(at->find(": ") + 2);
  EXPECT_EQ(lines_of(dir.read("d.txt.importance"))[0], "The out of bag error rate is " + rate);
  EXPECT_EQ(at[1], "Out-of-bag confusion table (rows: true label, columns: out-of-bag predicted label):");
  EXPECT_EQ(at[2], "true\\predicted\t1\t2");
  const auto first = rows_of(at[3]), second = rows_of(at[4]);
  ASSERT_EQ(first[0].size(), 3u);
  EXPECT_EQ(first[0][0], "1");
  EXPECT_EQ(second[0][0], "2");
  const int total = std::stoi(first[0][1]) + std::stoi(first[0][2]) + std::stoi(second[0][1]) + std::stoi(second[0][2]);
  EXPECT_EQ(total, 40);
  EXPECT_NEAR((std::stoi(first[0][2]) + std::stoi(second[0][1])) / 40.0, std::stod(rate), 1e-6);
  EXPECT_EQ(std::count(first[0][0].begin(), first[0][0].end(), '\t'), 0);
}
