// Writing and strict reading of saved-forest files.
#include "forest_file.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "fatal.hpp"
#include "outfile.hpp"

namespace forests {

namespace {

const char* const kMagic = "saved-forest";

// Exact: strtod reads back the same double.
std::string exact_number(double v) { return format("%.17g", v); }

void append_tree(std::string& s, int number, const StoredTree& t) {
  s += format("tree %d %d\n", number, t.node_count);
  for (int a = 0; a < t.node_count; ++a)
    s += format("%d %d %s %d %d\n", t.split_var[a] + 1, t.left_daughter[a] == 0 ? 0 : t.left_daughter[a] + 1, exact_number(t.split_value[a]).c_str(),
                t.node_class[a], t.na_right[a]);
}

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = line.find(' ', from);
    fields.push_back(line.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) return fields;
    from = at + 1;
  }
}

// The whole field as a decimal integer within the int range.
bool field_int(std::string_view f, int& value) {
  std::size_t k = f.size() > 1 && f[0] == '-' ? 1 : 0;
  if (k == f.size() || f.size() - k > 10) return false;
  long long v = 0;
  for (; k < f.size(); ++k) {
    if (f[k] < '0' || f[k] > '9') return false;
    v = 10 * v + (f[k] - '0');
  }
  if (f[0] == '-') v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

// The whole field as a finite double.
bool field_double(std::string_view f, double& value) {
  if (f.empty() || f.size() > 64) return false;
  const std::string text(f);
  char* stop = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &stop);
  if (stop != text.c_str() + text.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

// A nominal split's category set: a whole number whose decimal digits each name one of the
// covariate's ncat categories (digit = category + 1).
bool valid_category_set(double code, int ncat) {
  if (code < 0 || code > 1e17 || code != std::floor(code)) return false;
  for (long long c = static_cast<long long>(code); c != 0; c /= 10)
    if (c % 10 == 0 || c % 10 > ncat) return false;
  return true;
}

// Reads the body line by line; every complaint names the file and the line.
class ForestParser {
 public:
  ForestParser(std::string_view body, int first_line, const std::string& path)
      : rest_(body), line_(first_line - 1), path_(path) {
    for (char c : body) lines_left_ += c == '\n';
    if (!body.empty() && body.back() != '\n') ++lines_left_;
  }

  // The next line's fields; the first must be `head` when given, and there must be `count`
  // fields when count >= 0.
  std::vector<std::string_view> line(const char* head, int count) {
    if (rest_.empty()) damaged_next("the file ends too early");
    const std::size_t at = rest_.find('\n');
    std::vector<std::string_view> fields = split_fields(rest_.substr(0, at));
    rest_ = at == std::string_view::npos ? std::string_view() : rest_.substr(at + 1);
    ++line_;
    --lines_left_;
    if (head && fields[0] != head) damaged(format("expected a line starting with \"%s\"", head));
    if (count >= 0 && static_cast<int>(fields.size()) != count) damaged(format("expected %d fields", count));
    return fields;
  }

  int integer(std::string_view f, int lo, int hi, const char* what) {
    int v = 0;
    if (!field_int(f, v) || v < lo || v > hi) damaged(format("%s must be a whole number from %d to %d", what, lo, hi));
    return v;
  }

  double real(std::string_view f, const char* what) {
    double v = 0.0;
    if (!field_double(f, v)) damaged(format("%s must be a number", what));
    return v;
  }

  // Lines left: a count read from the file can never ask for more items than that.
  int lines_left() const { return static_cast<int>(std::min<long long>(lines_left_, INT_MAX)); }

  bool done() const { return rest_.empty(); }

  // Complaints about the line after the last one read.
  [[noreturn]] void damaged_next(const std::string& what) {
    ++line_;
    damaged(what);
  }

  [[noreturn]] void damaged(const std::string& what) const {
    fail(format("Forest file %s is damaged at line %d: %s.\n", path_.c_str(), line_, what.c_str()));
  }

 private:
  std::string_view rest_;
  int line_;
  const std::string& path_;
  long long lines_left_ = 0;
};

void parse_classes(ForestParser& p, DataSet& d) {
  auto f = p.line("classes", -1);
  d.nclass = p.integer(f.size() > 1 ? f[1] : "", 1, INT_MAX, "the number of classes");
  if (static_cast<std::size_t>(d.nclass) != f.size() - 2) p.damaged("the number of class labels is wrong");
  for (int c = 0; c < d.nclass; ++c) {
    const int label = p.integer(f[2 + c], INT_MIN, INT_MAX, "a class label");
    if (c > 0 && label <= d.class_label.back()) p.damaged("the class labels must ascend");
    d.class_label.push_back(label);
  }
}

void parse_covariates(ForestParser& p, DataSet& d) {
  d.missing_code = p.real(p.line("missing", 2)[1], "the missing-value code");
  d.ncov = p.integer(p.line("covariates", 2)[1], 0, p.lines_left(), "the number of covariates");
  for (int j = 0; j < d.ncov; ++j) {
    auto f = p.line(nullptr, -1);
    if (f.size() < 2 || f[1].empty()) p.damaged("expected a covariate");
    d.name.emplace_back(f[1]);
    d.ori_catg.emplace_back();
    if (f[0] == "o" && f.size() == 2) {
      d.ncat.push_back(1);
      d.ncat_orig.push_back(kOrdinal);
      continue;
    }
    if (f[0] != "n" || f.size() < 4) p.damaged("expected a covariate: o NAME or n NAME K CODE...");
    const int ncat = p.integer(f[2], 1, INT_MAX, "the number of categories");
    if (static_cast<std::size_t>(ncat) != f.size() - 3) p.damaged("the number of category codes is wrong");
    for (int c = 0; c < ncat; ++c) d.ori_catg[j].push_back(p.integer(f[3 + c], INT_MIN, INT_MAX, "a category code"));
    d.ncat.push_back(ncat);
    d.ncat_orig.push_back(kNominal);
  }
}

// One node: the descent can only move to later nodes and reads only what exists.
void parse_node(ForestParser& p, const DataSet& d, StoredTree& t, int a) {
  auto f = p.line(nullptr, 5);
  const int covariate = p.integer(f[0], 0, d.ncov, "the split covariate");
  const int left = p.integer(f[1], 0, t.node_count, "the left daughter");
  t.split_var[a] = covariate - 1;
  t.left_daughter[a] = left == 0 ? 0 : left - 1;
  t.split_value[a] = p.real(f[2], "the split value");
  t.node_class[a] = p.integer(f[3], 0, d.nclass - 1, "the class");
  t.na_right[a] = p.integer(f[4], 0, 1, "the side of missing values");
  if (left == 0) return;
  if (t.left_daughter[a] <= a || t.left_daughter[a] + 1 >= t.node_count) p.damaged("the daughters must be later nodes of the tree");
  if (t.split_var[a] < 0) p.damaged("a split node needs its covariate");
  const int ncat = d.ncat[t.split_var[a]];
  if (ncat > 1 && !valid_category_set(t.split_value[a], ncat)) p.damaged("the category set does not fit the covariate");
}

void parse_trees(ForestParser& p, SavedForest& s) {
  const int ntree = p.integer(p.line("trees", 2)[1], 0, p.lines_left(), "the number of trees");
  for (int k = 0; k < ntree; ++k) {
    auto f = p.line("tree", 3);
    if (p.integer(f[1], 1, INT_MAX, "the tree number") != k + 1) p.damaged("the trees are out of order");
    StoredTree t;
    t.node_count = p.integer(f[2], 1, p.lines_left(), "the number of nodes");
    t.split_var.resize(t.node_count);
    t.left_daughter.resize(t.node_count);
    t.split_value.resize(t.node_count);
    t.node_class.resize(t.node_count);
    t.na_right.resize(t.node_count);
    for (int a = 0; a < t.node_count; ++a) parse_node(p, s.model, t, a);
    s.trees.push_back(std::move(t));
  }
}

// The first line: this format, a version this program reads, and the program's own forest.
void check_first_line(std::string_view line, const std::string& program, const std::string& path) {
  auto f = split_fields(line);
  int version = 0;
  if (f.size() != 3 || f[0] != kMagic || !field_int(f[1], version) || version < 1)
    fail(format("%s is not a saved forest file.\n", path.c_str()));
  if (version > kForestFileVersion)
    fail(format("Forest file %s has format version %d; this %s reads version %d and older.\n", path.c_str(), version,
                program.c_str(), kForestFileVersion));
  if (f[2] != program)
    fail(format("Forest file %s holds a forest of %s; %s cannot use it.\n", path.c_str(), std::string(f[2]).c_str(),
                program.c_str()));
}

// The end line: its hash must be that of everything before it. Returns where it starts.
std::size_t check_end_line(std::string_view text, const std::string& path) {
  const std::string_view lines = text.substr(0, text.size() - 1);
  const std::size_t start = lines.rfind('\n') + 1;
  const std::string_view end = lines.substr(start);
  if (text.back() != '\n' || start == 0 || end.size() != 20 || end.substr(0, 4) != "end ")
    fail(format("Forest file %s is cut short: its end line is missing.\n", path.c_str()));
  if (format("%016llx", static_cast<unsigned long long>(forest_check(text.substr(0, start)))) != end.substr(4))
    fail(format("Forest file %s is damaged: its content does not match its check.\n", path.c_str()));
  return start;
}

}  // namespace

std::uint64_t forest_check(std::string_view text) {
  std::uint64_t h = 14695981039346656037ull;  // 64-bit FNV-1a
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

std::string forest_text(const std::string& program, const DataSet& d, const CategoryCodesOf& category_codes,
                        const std::vector<StoredTree>& forest) {
  std::string s = format("%s %d %s\n", kMagic, kForestFileVersion, program.c_str());
  s += format("classes %d", d.nclass);
  for (int c = 0; c < d.nclass; ++c) s += format(" %d", d.class_label[c]);
  s += "\nmissing " + exact_number(d.missing_code) + "\n";
  s += format("covariates %d\n", d.ncov);
  for (int j = 0; j < d.ncov; ++j) {
    if (d.ncat_orig[j] != kNominal) {
      s += "o " + d.name[j] + "\n";
      continue;
    }
    s += format("n %s %d", d.name[j].c_str(), d.ncat[j]);
    const std::vector<int>& codes = category_codes(j);
    for (int c = 0; c < d.ncat[j]; ++c) s += format(" %d", codes[c]);
    s += "\n";
  }
  s += format("trees %d\n", static_cast<int>(forest.size()));
  for (std::size_t k = 0; k < forest.size(); ++k) append_tree(s, static_cast<int>(k) + 1, forest[k]);
  return s + format("end %016llx\n", static_cast<unsigned long long>(forest_check(s)));
}

void write_forest_file(const std::string& path, const std::string& program, const DataSet& d,
                       const CategoryCodesOf& category_codes, const std::vector<StoredTree>& forest) {
  OutFile out(path, "w");
  out.puts(forest_text(program, d, category_codes, forest));
  out.close();
}

SavedForest parse_forest_text(std::string_view text, const std::string& program, const std::string& path) {
  const std::size_t first_end = text.find('\n');
  check_first_line(text.substr(0, first_end), program, path);
  const std::size_t end_line = check_end_line(text, path);
  SavedForest s;
  ForestParser p(text.substr(first_end + 1, end_line - first_end - 1), 2, path);
  parse_classes(p, s.model);
  parse_covariates(p, s.model);
  parse_trees(p, s);
  if (!p.done()) p.damaged_next("unexpected lines after the last tree");
  return s;
}

SavedForest read_forest_file(const std::string& path, const std::string& program) {
  InFile in(open_for_reading(path));
  if (!in) fail(format("Forest file %s cannot be opened.\n", path.c_str()));
  std::string text;
  char buf[1 << 16];
  for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, in.get())) > 0;)
    guarded_grow([&] { text.append(buf, got); }, "allocation failure in realloc");
  if (std::ferror(in.get())) fail(format("Forest file %s cannot be read.\n", path.c_str()));
  return parse_forest_text(text, program, path);
}

}  // namespace forests
