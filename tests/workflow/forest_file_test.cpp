// The saved-forest file: exact round trips, and every kind of damage refused with a message.
#include <gtest/gtest.h>

#include <random>

#include "forest_file.hpp"
#include "run_program.hpp"

using namespace forests;

namespace {

// Two ordinal covariates and a nominal one of 4 categories; labels 3 and 7.
DataSet small_model() {
  DataSet d;
  d.ncov = 3;
  d.nclass = 2;
  d.class_label = {3, 7};
  d.name = {"age", "dose", "site"};
  d.ncat = {1, 1, 4};
  d.ncat_orig = {kOrdinal, kOrdinal, kNominal};
  d.ori_catg = {{}, {}, {2, 5, 9, -9}};
  d.missing_code = -9.0;
  return d;
}

const std::vector<int>& codes_of(const DataSet& d, int v) { return d.ori_catg[v]; }

// A random tree over the model: terminal nodes split in random order, the daughters appended.
StoredTree random_tree(const DataSet& d, std::mt19937& rng) {
  StoredTree t;
  t.node_count = 1;
  t.split_var = {-1};
  t.left_daughter = {0};
  t.split_value = {0.0};
  t.node_class = {static_cast<int>(rng() % d.nclass)};
  t.na_right = {0};
  const int splits = static_cast<int>(rng() % 6);
  for (int s = 0; s < splits; ++s) {
    int a = static_cast<int>(rng() % t.node_count);
    if (t.left_daughter[a] != 0) continue;
    const int v = static_cast<int>(rng() % d.ncov);
    t.split_var[a] = v;
    t.left_daughter[a] = t.node_count;
    t.split_value[a] = d.ncat[v] > 1 ? 13.0 : std::uniform_real_distribution<double>(-1e6, 1e6)(rng);
    t.na_right[a] = static_cast<int>(rng() % 2);
    for (int k = 0; k < 2; ++k) {
      t.split_var.push_back(-1);
      t.left_daughter.push_back(0);
      t.split_value.push_back(0.0);
      t.node_class.push_back(static_cast<int>(rng() % d.nclass));
      t.na_right.push_back(0);
    }
    t.node_count += 2;
  }
  return t;
}

std::string text_of(const DataSet& d, const std::vector<StoredTree>& forest, const std::string& program = "wren") {
  return forest_text(program, d, [&](int v) -> const std::vector<int>& { return codes_of(d, v); }, forest);
}

// The message of a refused text; empty when it was read.
std::string refusal(const std::string& text, const std::string& program = "wren") {
  try {
    parse_forest_text(text, program, "f.forest");
  } catch (const FatalError& e) {
    return e.text;
  }
  return "";
}

// The text with its end line made to match again: damage that a check would not catch.
std::string rechecked(std::string text) {
  text.resize(text.rfind("end "));
  return text + format("end %016llx\n", static_cast<unsigned long long>(forest_check(text)));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

}  // namespace

TEST(ForestFile, RoundTripIsExact) {
  std::mt19937 rng(5);
  DataSet d = small_model();
  d.missing_code = 0.1;  // not a short decimal in binary
  std::vector<StoredTree> forest;
  for (int k = 0; k < 40; ++k) forest.push_back(random_tree(d, rng));
  forest[0].split_value[0] = 1.0 / 3.0;
  const std::string text = text_of(d, forest);
  EXPECT_EQ(text.rfind("saved-forest 1 wren\nclasses 2 3 7\nmissing 0.10000000000000001\ncovariates 3\n"
                       "o age\no dose\nn site 4 2 5 9 -9\ntrees 40\ntree 1 ",
                       0),
            0u);

  const SavedForest s = parse_forest_text(text, "wren", "f.forest");
  EXPECT_EQ(s.model.missing_code, 0.1);
  EXPECT_EQ(s.model.class_label, d.class_label);
  EXPECT_EQ(s.model.name, d.name);
  EXPECT_EQ(s.model.ncat, d.ncat);
  EXPECT_EQ(s.model.ncat_orig, d.ncat_orig);
  EXPECT_EQ(s.model.ori_catg, d.ori_catg);
  ASSERT_EQ(s.trees.size(), forest.size());
  for (std::size_t k = 0; k < forest.size(); ++k) {
    EXPECT_EQ(s.trees[k].node_count, forest[k].node_count);
    EXPECT_EQ(s.trees[k].split_var, forest[k].split_var);
    EXPECT_EQ(s.trees[k].left_daughter, forest[k].left_daughter);
    EXPECT_EQ(s.trees[k].split_value, forest[k].split_value);  // bit for bit
    EXPECT_EQ(s.trees[k].node_class, forest[k].node_class);
    EXPECT_EQ(s.trees[k].na_right, forest[k].na_right);
  }
  EXPECT_EQ(text_of(s.model, s.trees), text);
}

TEST(ForestFile, WrongKindOfFileIsRefused) {
  std::mt19937 rng(1);
  const DataSet d = small_model();
  const std::string text = text_of(d, {random_tree(d, rng)});
  EXPECT_EQ(refusal(""), "f.forest is not a saved forest file.\n");
  EXPECT_EQ(refusal("o o r\na b y\n1 2 1\n"), "f.forest is not a saved forest file.\n");
  EXPECT_EQ(refusal(text, "plover"), "Forest file f.forest holds a forest of wren; plover cannot use it.\n");
  EXPECT_EQ(refusal(replaced(text, "saved-forest 1 ", "saved-forest 2 ")),
            "Forest file f.forest has format version 2; this wren reads version 1 and older.\n");
  EXPECT_EQ(refusal(replaced(text, "saved-forest 1 ", "saved-forest x ")), "f.forest is not a saved forest file.\n");
}

TEST(ForestFile, CutOrChangedBytesAreRefused) {
  std::mt19937 rng(2);
  const DataSet d = small_model();
  std::vector<StoredTree> forest;
  for (int k = 0; k < 3; ++k) forest.push_back(random_tree(d, rng));
  const std::string text = text_of(d, forest);
  ASSERT_EQ(refusal(text), "");
  const std::size_t first_line = text.find('\n') + 1;
  for (std::size_t n = first_line; n < text.size(); ++n)
    EXPECT_NE(refusal(text.substr(0, n)), "") << "cut after " << n << " bytes";
  EXPECT_EQ(refusal(text.substr(0, text.size() - 1)),
            "Forest file f.forest is cut short: its end line is missing.\n");
  for (std::size_t k = first_line; k < text.size(); ++k) {
    std::string changed = text;
    changed[k] ^= static_cast<char>(1 + rng() % 127);
    EXPECT_NE(refusal(changed), "") << "byte " << k << " changed";
  }
  EXPECT_EQ(refusal(replaced(text, "o dose", "o dosf")),
            "Forest file f.forest is damaged: its content does not match its check.\n");
}

TEST(ForestFile, DamageBehindAMatchingCheckIsRefused) {
  DataSet d = small_model();
  StoredTree t;  // root on the nominal covariate, categories 0 and 2 right
  t.node_count = 3;
  t.split_var = {2, -1, -1};
  t.left_daughter = {1, 0, 0};
  t.split_value = {13.0, 0.0, 0.0};
  t.node_class = {0, 0, 1};
  t.na_right = {0, 0, 0};
  const std::string text = text_of(d, {t});
  ASSERT_EQ(refusal(rechecked(text)), "");
  const std::string nodes = "3 2 13 0 0\n0 0 0 0 0\n0 0 0 1 0\n";
  ASSERT_NE(text.find(nodes), std::string::npos);
  const std::vector<std::pair<std::string, std::string>> damage{
      {"3 2 15 0 0\n", "line 10: the category set does not fit the covariate"},  // category 5 of 4
      {"3 2 10 0 0\n", "line 10: the category set does not fit the covariate"},  // digit 0
      {"3 2 1.5 0 0\n", "line 10: the category set does not fit the covariate"},
      {"4 2 13 0 0\n", "line 10: the split covariate must be a whole number from 0 to 3"},
      {"3 1 13 0 0\n", "line 10: the daughters must be later nodes of the tree"},
      {"3 3 13 0 0\n", "line 10: the daughters must be later nodes of the tree"},
      {"0 2 13 0 0\n", "line 10: a split node needs its covariate"},
      {"3 2 13 2 0\n", "line 10: the class must be a whole number from 0 to 1"},
      {"3 2 13 0 2\n", "line 10: the side of missing values must be a whole number from 0 to 1"},
      {"3 2 nan 0 0\n", "line 10: the split value must be a number"},
      {"3 2 13 0\n", "line 10: expected 5 fields"},
      {"3 2 13 0 0 \n", "line 10: expected 5 fields"},
  };
  for (const auto& [line, why] : damage) {
    const std::string damaged = rechecked(replaced(text, nodes, line + nodes.substr(nodes.find('\n') + 1)));
    EXPECT_EQ(refusal(damaged), "Forest file f.forest is damaged at " + why + ".\n") << line;
  }
  EXPECT_EQ(refusal(rechecked(replaced(text, "tree 1 3", "tree 1 4"))),
            "Forest file f.forest is damaged at line 9: the number of nodes must be a whole number from 1 to 3.\n");
  EXPECT_EQ(refusal(rechecked(replaced(text, "trees 1", "trees 2"))),
            "Forest file f.forest is damaged at line 13: the file ends too early.\n");
  EXPECT_EQ(refusal(rechecked(replaced(text, "classes 2 3 7", "classes 2 7 3"))),
            "Forest file f.forest is damaged at line 2: the class labels must ascend.\n");
  EXPECT_EQ(refusal(rechecked(replaced(text, "n site 4 2 5 9 -9", "n site 5 2 5 9 -9"))),
            "Forest file f.forest is damaged at line 7: the number of category codes is wrong.\n");
  EXPECT_EQ(refusal(rechecked(replaced(text, "end ", "extra\nend "))),
            "Forest file f.forest is damaged at line 13: unexpected lines after the last tree.\n");
}

TEST(ForestFile, FileOnDisk) {
  ScratchDir dir;
  const DataSet d = small_model();
  std::mt19937 rng(3);
  const std::vector<StoredTree> forest{random_tree(d, rng)};
  write_forest_file(dir.file("f.forest"), "plover", d, [&](int v) -> const std::vector<int>& { return codes_of(d, v); },
                    forest);
  EXPECT_EQ(dir.read("f.forest"), text_of(d, forest, "plover"));
  EXPECT_EQ(read_forest_file(dir.file("f.forest"), "plover").trees[0].left_daughter, forest[0].left_daughter);
  try {
    read_forest_file(dir.file("none.forest"), "plover");
    ADD_FAILURE();
  } catch (const FatalError& e) {
    EXPECT_EQ(e.text, "Forest file " + dir.file("none.forest") + " cannot be opened.\n");
  }
}
