// The saved-forest reader. An odd first byte gives the rest of the input a correct end line,
// so that damage behind a matching check reaches the line-by-line checks too. A forest is read
// or refused with a message, never a crash; every case then descends through every tree it read.
#include <string>

#include "descend.hpp"
#include "forest_file.hpp"
#include "fuzz_input.hpp"

using namespace forests;

namespace {

std::string with_end_line(std::string text) {
  const std::size_t end = text.rfind("end ");
  if (end != std::string::npos && (end == 0 || text[end - 1] == '\n')) text.resize(end);
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text + format("end %016llx\n", static_cast<unsigned long long>(forest_check(text)));
}

// Cases made of each category and of the missing value descend to a class of the forest.
void descend_everywhere(const SavedForest& s) {
  const DataSet& d = s.model;
  for (int pick = 0; pick < 3; ++pick) {
    for (const StoredTree& t : s.trees) {
      const int c = descend(
          t, d.ncat, d.missing_code,
          [&](int v) {
            if (d.ncat[v] < 2) return pick == 0 ? d.missing_code : static_cast<double>(pick);
            return static_cast<double>(pick == 0 ? 0 : d.ncat[v] - 1);
          },
          [&](int v) -> const std::vector<int>& { return d.ori_catg[v]; });
      if (c < 0 || c >= d.nclass) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) text = with_end_line(text);
  try {
    descend_everywhere(parse_forest_text(text, data[0] & 2 ? "wren" : "plover", "fuzz.forest"));
  } catch (const FatalError&) {
  }
  return 0;
}
