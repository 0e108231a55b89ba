// Checked parsing of option/value pairs, the help text and the options the programs share.
#include "options.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fatal.hpp"

namespace forests {

const char* const kVersion = "1.0.0";

namespace {

constexpr double kNoLimit = HUGE_VAL;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Skips an optional sign and the decimal digits from `p`; false when there are none.
bool skip_digits(const char*& p) {
  const char* start = p;
  while (is_digit(*p)) ++p;
  return p != start;
}

// An optional sign and decimal digits, nothing else, within the range of long long.
bool read_whole(const char* text, long long& value) {
  const char* p = text;
  if (*p == '+' || *p == '-') ++p;
  if (!skip_digits(p) || *p != '\0') return false;
  errno = 0;
  value = std::strtoll(text, nullptr, 10);
  return errno != ERANGE;
}

// A decimal number: sign, digits with an optional point, an optional exponent; finite.
bool read_real(const char* text, double& value) {
  const char* p = text;
  if (*p == '+' || *p == '-') ++p;
  const bool before = skip_digits(p);
  bool after = false;
  if (*p == '.') {
    ++p;
    after = skip_digits(p);
  }
  if (!before && !after) return false;
  if (*p == 'e' || *p == 'E') {
    ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!skip_digits(p)) return false;
  }
  if (*p != '\0') return false;
  value = std::strtod(text, nullptr);
  return std::isfinite(value);
}

[[noreturn]] void parameter_error(const std::string& line) { fail("parameter error!\n" + line + "\n"); }

std::string number_text(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) return format("%.0f", v);
  return format("%g", v);
}

// " (at least 1)", " (0 to 1)", or nothing where any number of the type is allowed.
std::string range_text(const OptionSpec& o) {
  if (o.type != ValueType::whole && o.type != ValueType::real) return "";
  const bool low = o.type == ValueType::whole ? o.low > INT_MIN : o.low > -kNoLimit;
  const bool high = o.type == ValueType::whole ? o.high < INT_MAX : o.high < kNoLimit;
  if (low && high) return number_text(o.low) + " to " + number_text(o.high);
  if (low) return "at least " + number_text(o.low);
  if (high) return "at most " + number_text(o.high);
  return "";
}

std::string word_list(const std::vector<OptionSpec>& options) {
  std::string words;
  for (const OptionSpec& o : options) words += std::string(o.word) + ", ";
  return words + "-h, --help and --version";
}

// The value of option `o` as the text stands, checked against its type and range.
OptionValue checked_value(const OptionSpec& o, const char* text) {
  OptionValue v{text};
  switch (o.type) {
    case ValueType::text:
    case ValueType::flag:
      return v;
    case ValueType::seed:
      if (!read_whole(text, v.whole))
        parameter_error(format("Option %s expects a whole number of up to 64 bits, not \"%s\".", o.word, text));
      return v;
    case ValueType::whole:
      if (!read_whole(text, v.whole))
        parameter_error(format("Option %s expects a whole number, not \"%s\".", o.word, text));
      if (v.whole < INT_MIN || v.whole > INT_MAX)
        parameter_error(format("Option %s expects a whole number from %d to %d, not \"%s\".", o.word, INT_MIN,
                               INT_MAX, text));
      v.real = static_cast<double>(v.whole);
      break;
    case ValueType::real:
      if (!read_real(text, v.real))
        parameter_error(format("Option %s expects a decimal number such as 0.5, not \"%s\".", o.word, text));
      break;
  }
  if (v.real < o.low || v.real > o.high)
    fail(format("%s %s is out of range: the allowed values are %s.\n", o.word, text, range_text(o).c_str()));
  return v;
}

OptionSpec whole_option(const char* word, const char* value_name, const char* about, const char* default_text,
                        double low, double high, std::function<void(const OptionValue&)> set) {
  return {word, ValueType::whole, value_name, about, default_text, low, high, std::move(set)};
}

// The help line of an option, continued on a further line indented to its text where long;
// the range and the default are never broken.
std::string help_line(const OptionSpec& o) {
  constexpr std::size_t kWidth = 92, kIndent = 15;
  std::vector<std::string> pieces;
  for (const char* p = o.about; *p;) {
    const char* end = std::strchr(p, ' ');
    if (!end) end = p + std::strlen(p);
    pieces.emplace_back(p, end);
    p = *end ? end + 1 : end;
  }
  const std::string range = range_text(o);
  if (!range.empty()) pieces.push_back("(" + range + ")");
  if (o.default_text[0]) pieces.push_back(std::string("[") + o.default_text + "]");
  std::string line = format("  %-13s", (std::string(o.word) + (o.value_name[0] ? " " : "") + o.value_name).c_str()),
              text;
  for (const std::string& piece : pieces) {
    if (line.size() > kIndent && line.size() + 1 + piece.size() > kWidth) {
      text += line + "\n";
      line = std::string(kIndent, ' ');
    } else if (line.size() > kIndent) {
      line += ' ';
    }
    line += piece;
  }
  return text + line + "\n";
}

}  // namespace

std::vector<OptionSpec> option_table(std::initializer_list<std::vector<OptionSpec>> groups) {
  std::vector<OptionSpec> table;
  for (const auto& group : groups) table.insert(table.end(), group.begin(), group.end());
  return table;
}

std::string usage_text(const ProgramHelp& help, const std::vector<OptionSpec>& options) {
  std::string text = std::string("Usage: ") + help.name + " [option value]...\n" + help.about + "\nOptions [defaults]:\n";
  for (const OptionSpec& o : options) text += help_line(o);
  return text + "  -h, --help   this text; --version the version\n\n" + help.files +
         "Each output is written as .NAME.PID.tmp beside it and renamed when the run completes;\n"
         "a run that fails or is stopped leaves earlier files as they were.\n";
}

void parse_options(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                   const ProgramHelp& help) {
  for (int k = 1; k < argc; k += 2) {
    if (std::strcmp(argv[k], "-h") == 0 || std::strcmp(argv[k], "--help") == 0)
      throw EarlyExit{usage_text(help, options)};
    if (std::strcmp(argv[k], "--version") == 0) throw EarlyExit{std::string(help.name) + " " + kVersion + "\n"};
    const OptionSpec* match = nullptr;
    for (const auto& o : options)
      if (std::strcmp(argv[k], o.word) == 0) match = &o;
    if (!match)
      parameter_error(format("\"%s\" is not an option of %s; it takes %s.", argv[k], help.name,
                             word_list(options).c_str()));
    if (match->type == ValueType::flag) {
      match->set(OptionValue{""});
      --k;  // a flag takes no value
      continue;
    }
    if (k + 1 >= argc) parameter_error(format("Option %s needs a value (%s) after it.", match->word, match->value_name));
    match->set(checked_value(*match, argv[k + 1]));
  }
}

OptionSpec data_file_option(std::string& file, const char* default_name) {
  return {"-t", ValueType::text, "FILE", "training data file, or a pipe; - reads standard input (with -out)",
          default_name, 0, 0,
          [&file](const OptionValue& v) { file = v.text; }};
}

OptionSpec prediction_files_option(std::vector<std::string>& files) {
  return {"-p", ValueType::text, "FILE", "a file to classify; repeat for more files", "none", 0, 0,
          [&files](const OptionValue& v) { files.emplace_back(v.text); }};
}

OptionSpec count_option(const char* word, int& value, int low, const char* about, const char* default_text) {
  return whole_option(word, "N", about, default_text, low, INT_MAX,
                      [&value](const OptionValue& v) { value = static_cast<int>(v.whole); });
}

OptionSpec minnode_option(int& minnode, const char* default_text) {
  return count_option("-minnode", minnode, 1, "smallest number of cases each side of a split must receive",
                      default_text);
}

OptionSpec missing_share_option(double& share, const char* about, const char* default_text) {
  return {"-r", ValueType::real, "SHARE", about, default_text, 0.0, 1.0,
          [&share](const OptionValue& v) { share = v.real; }};
}

OptionSpec candidates_option(int& nsplitvar, bool& given) {
  return whole_option("-m", "N", "candidate covariates drawn at each node, at most the usable ones",
                      "square root of the usable ones", 1, INT_MAX, [&nsplitvar, &given](const OptionValue& v) {
                        nsplitvar = static_cast<int>(v.whole);
                        given = true;
                      });
}

std::vector<OptionSpec> prediction_options(std::vector<std::string>& files) {
  return {prediction_files_option(files),
          whole_option("-s", "N", "accepted and ignored: the trees always split by entropy", "", INT_MIN, INT_MAX,
                       [](const OptionValue&) {})};
}

OptionSpec seed_option(std::uint32_t& seed, bool& given) {
  return {"-seed", ValueType::seed, "N", "seed of the random draws", "the calendar time, told on the first line", -kNoLimit, kNoLimit,
          [&seed, &given](const OptionValue& v) {
            seed = static_cast<std::uint32_t>(v.whole);
            given = true;
          }};
}

OptionSpec threads_option(int& threads) {
  return whole_option("-threads", "N", "threads to work on; the files do not depend on it", "the processors this run may use",
                      1, kMaxThreads, [&threads](const OptionValue& v) { threads = static_cast<int>(v.whole); });
}

}  // namespace forests
