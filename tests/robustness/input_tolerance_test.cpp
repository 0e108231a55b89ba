// Every reader of data files takes files from other systems and spreadsheets as they come: a
// byte-order mark, CR LF or lone CR line ends, no line end after the last row, very long
// tokens and very wide rows. None of these may change what is read.
#include <gtest/gtest.h>

#include <functional>

#include "genotypes.hpp"
#include "prediction_reader.hpp"
#include "read_text.hpp"

using namespace forests;

namespace {

// What a reader made of a file: the fatal message or the report it wrote, and every value it
// stored, covariate by covariate.
struct Reading {
  std::string error;
  std::string report;
  bool qualified = true;  // files to classify
  std::vector<std::vector<double>> values;
  std::vector<int> y;
  std::vector<std::vector<std::string>> cell_text;
  bool operator==(const Reading&) const = default;
};

std::vector<std::vector<double>> genotypes_of(const GenoStore& g) {
  std::vector<std::vector<double>> v(g.ncov);
  for (int j = 0; j < g.ncov; ++j)
    for (int i = 0; i < g.ncase; ++i) v[j].push_back(geno_get(g, j, i));
  return v;
}

Reading training(const std::string& text, ReadOptions options) {
  ReadResult r = read_text(text, options);
  return {r.error, r.report, true, all_values(r.d), r.d.y, all_texts(r.d)};
}

Reading genotype_training(const std::string& text, DataSet* kept = nullptr) {
  Reading r;
  DataSet d;
  GenoStore g;
  r.report = read_through(
      text, [&](TokenReader& in, OutFile& report) { read_genotype_file(in, report, d, g); }, r.error);
  r.values = genotypes_of(g);
  r.y = d.y;
  if (kept) *kept = d;
  return r;
}

// Runs `read` on a file holding `text`.
template <class Read>
bool read_file_holding(const std::string& text, Read&& read) {
  ScratchDir dir;
  dir.write("p.txt", text);
  InFile f(open_for_reading(dir.file("p.txt")));
  TokenReader in(f.get());
  return read(in);
}

Reading wren_prediction(const DataSet& train, const std::string& text) {
  Reading r;
  PredictionData p;
  r.qualified = read_file_holding(text, [&](TokenReader& in) { return read_prediction_file(in, train, p); });
  r.values = p.X;
  return r;
}

Reading plover_prediction(const DataSet& train, const std::string& text) {
  Reading r;
  GenoStore g;
  r.qualified = read_file_holding(text, [&](TokenReader& in) { return read_genotype_prediction(in, train, g); });
  r.values = genotypes_of(g);
  return r;
}

struct Reader {
  const char* name;
  std::function<Reading(const std::string& text)> read;
};

// The five readers. The files to classify are read against the training data of `training_text`.
std::vector<Reader> readers(const std::string& training_text) {
  auto wren_train = std::make_shared<DataSet>(read_text(training_text, {false, true}).d);
  auto plover_train = std::make_shared<DataSet>();
  genotype_training(training_text, plover_train.get());
  return {
      {"training", [](const std::string& t) { return training(t, {}); }},
      {"training, wren form", [](const std::string& t) { return training(t, {false, true}); }},
      {"genotype training", [](const std::string& t) { return genotype_training(t); }},
      {"wren prediction", [=](const std::string& t) { return wren_prediction(*wren_train, t); }},
      {"plover prediction", [=](const std::string& t) { return plover_prediction(*plover_train, t); }},
  };
}

// Genotypes only, so that every reader takes it. The first name is a kind letter: only the
// line end tells where the kind line stops.
const std::string kPlain =
    "o n d o r\n"
    "d b id c y\n"
    "0 1 5 2 1\n"
    "2 NA 6 1 2\n"
    "1 2 7 . 1\n"
    "0 0 8 2 2\n";

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
  return s;
}

}  // namespace

TEST(InputTolerance, LineEndsAndByteOrderMarkChangeNothing) {
  const std::string no_final_end = kPlain.substr(0, kPlain.size() - 1);
  const std::vector<std::pair<const char*, std::string>> variants{
      {"byte-order mark", "\xEF\xBB\xBF" + kPlain},
      {"CR LF", replace_all(kPlain, "\n", "\r\n")},
      {"lone CR", replace_all(kPlain, "\n", "\r")},
      {"no final line end", no_final_end},
      {"all at once", "\xEF\xBB\xBF" + replace_all(no_final_end, "\n", "\r\n")},
  };
  for (const Reader& reader : readers(kPlain)) {
    const Reading plain = reader.read(kPlain);
    ASSERT_EQ(plain.error, "") << reader.name;
    ASSERT_TRUE(plain.qualified) << reader.name;
    ASSERT_EQ(plain.values.size(), 3u) << reader.name;
    ASSERT_EQ(plain.values[0].size(), 4u) << reader.name;
    for (const auto& [what, text] : variants) EXPECT_TRUE(reader.read(text) == plain) << reader.name << ": " << what;
  }
}

TEST(InputTolerance, MegabyteTokensAndTwoHundredThousandColumns) {
  const int ncov = 200'000;
  const std::string long_name(1 << 20, 'm');
  const std::string long_one = "1." + std::string(1 << 20, '0');
  std::string kinds, names = long_name, row1, row2;
  for (int j = 0; j < ncov; ++j) {
    kinds += j % 7 == 3 ? "n " : "o ";
    if (j > 0) names += " m" + std::to_string(j);
    row1 += j == ncov - 1 ? long_one + " " : std::to_string(j % 3) + " ";
    row2 += j % 5 == 0 ? "NA " : "2 ";
  }
  const std::string text = kinds + "r\n" + names + " y\n" + row1 + "1\n" + row2 + "2\n";
  for (const Reader& reader : readers(text)) {
    const Reading r = reader.read(text);
    ASSERT_EQ(r.error, "") << reader.name;
    ASSERT_TRUE(r.qualified) << reader.name;
    ASSERT_EQ(r.values.size(), static_cast<std::size_t>(ncov)) << reader.name;
    EXPECT_EQ(r.values[1], (std::vector<double>{1, 2})) << reader.name;
    EXPECT_EQ(r.values[ncov - 1][0], 1) << reader.name;  // the megabyte token
    if (!r.report.empty()) {
      EXPECT_NE(r.report.find("\n" + long_name + ":\t\t"), std::string::npos) << reader.name;
    }
  }
}
