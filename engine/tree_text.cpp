// The pieces of a tree line: category sets and the side of missing values.
#include "tree_text.hpp"

namespace forests {

void write_category_set(OutFile& out, double code, const std::vector<int>& category_codes) {
  long long v = static_cast<long long>(code);
  bool first = true;
  while (v != 0) {
    const int d = static_cast<int>(v % 10);
    out.printf(first ? "%d" : ",%d", category_codes[d - 1]);
    first = false;
    v /= 10;
  }
}

void write_missing_side(OutFile& out, const TreeRecord& t, int i) { out.puts(t.na_right[i] == 1 ? "|NA " : " "); }

}  // namespace forests
