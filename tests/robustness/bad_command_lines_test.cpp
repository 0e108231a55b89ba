// Bad command lines, as a new user types them: each ends with its message and status 255
// before any output file exists, never with a crash or a run on nonsense values.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "kestrel.hpp"
#include "programs.hpp"
#include "wren.hpp"

using namespace forests;

namespace {

enum class Says {
  parameter_error,  // "parameter error!" and one line naming the word
  out_of_range,     // one line naming the option, the value and the range
  input_problem,    // one line naming the path and what is wrong with it
};

struct BadLine {
  std::vector<std::string> args;  // after "-t d.txt"
  Says says;
  std::string named;  // what the last line names
};

const std::vector<BadLine>& bad_lines() {
  static const std::vector<BadLine> all{
      {{"-perm", "-3"}, Says::out_of_range, "-perm -3"},
      {{"-n", "0"}, Says::out_of_range, "-n 0"},
      {{"-n", "-5"}, Says::out_of_range, "-n -5"},
      {{"-m", "0"}, Says::out_of_range, "-m 0"},
      {{"-m", "-2"}, Says::out_of_range, "-m -2"},
      {{"-r", "-1"}, Says::out_of_range, "-r -1"},
      {{"-r", "1.5"}, Says::out_of_range, "-r 1.5"},
      {{"-o", "0"}, Says::out_of_range, "-o 0"},
      {{"-minnode", "0"}, Says::out_of_range, "-minnode 0"},
      {{"-threads", "0"}, Says::out_of_range, "-threads 0"},
      {{"-threads", "5000"}, Says::out_of_range, "-threads 5000"},
      {{"-n", "ten"}, Says::parameter_error, "-n"},
      {{"-n", "1e3"}, Says::parameter_error, "-n"},
      {{"-n", "5x"}, Says::parameter_error, "-n"},
      {{"-n", ""}, Says::parameter_error, "-n"},
      {{"-n", "99999999999"}, Says::parameter_error, "-n"},
      {{"-minnode", " 3"}, Says::parameter_error, "-minnode"},
      {{"-r", "1,5"}, Says::parameter_error, "-r"},
      {{"-r", "half"}, Says::parameter_error, "-r"},
      {{"-fdr", "0x1p3"}, Says::parameter_error, "-fdr"},
      {{"-s", "entropy"}, Says::parameter_error, "-s"},
      {{"-seed", "99999999999999999999"}, Says::parameter_error, "-seed"},
      {{"-threads", "two"}, Says::parameter_error, "-threads"},
      {{"-x", "1"}, Says::parameter_error, "-x"},
      {{"-N", "5"}, Says::parameter_error, "-N"},
      {{"5"}, Says::parameter_error, "5"},
      {{"-n"}, Says::parameter_error, "-n"},
      {{"-n", "3", "-n"}, Says::parameter_error, "-n"},
      {{"-t", "missing.txt"}, Says::input_problem, "missing.txt does not exist"},
      {{"-t", "folder"}, Says::input_problem, "folder is a folder"},
      {{"-t", "-"}, Says::input_problem, "(-t -) needs -out PREFIX"},
      {{"-t", "/dev/null"}, Says::input_problem, "/dev/null is not a regular file"},
      {{"-p", "missing.txt"}, Says::input_problem, "missing.txt does not exist"},
      {{"-p", "folder"}, Says::input_problem, "folder is a folder"},
      {{"-p", "/dev/null"}, Says::input_problem, "/dev/null is not a regular file"},
  };
  return all;
}

bool takes(const Program& p, const std::string& word) {
  return word[0] != '-' || word == "-x" || word == "-N" ||
         std::find(p.options.begin(), p.options.end(), word) != p.options.end();
}

std::vector<std::string> files_in(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name != ".stdout" && name != ".stderr") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(BadCommandLines, EveryProgramStopsWithItsMessageBeforeAnyOutput) {
  for (const Program& p : programs()) {
    ScratchDir dir;
    dir.write("d.txt", genotype_data(30));
    std::filesystem::create_directory(dir.file("folder"));
    const std::vector<std::string> before = files_in(dir);
    for (const BadLine& bad : bad_lines()) {
      if (!takes(p, bad.args[0])) continue;
      std::vector<std::string> args{"-t", "d.txt"};
      args.insert(args.end(), bad.args.begin(), bad.args.end());
      const ProgramRun r = run_program(p.exe, args, dir);
      const std::string what = p.name + " " + ::testing::PrintToString(bad.args);
      EXPECT_EQ(r.status, 255) << what;
      const std::vector<std::string> lines = lines_of(r.err);
      ASSERT_FALSE(lines.empty()) << what;
      EXPECT_EQ(r.err.back(), '\n') << what;
      if (bad.says == Says::parameter_error) {
        ASSERT_EQ(lines.size(), 2u) << what << ": " << r.err;
        EXPECT_EQ(lines[0], "parameter error!") << what;
        EXPECT_NE(lines[1].find(bad.named), std::string::npos) << what << ": " << r.err;
      } else {
        ASSERT_EQ(lines.size(), 1u) << what << ": " << r.err;
        EXPECT_NE(lines[0].find(bad.named), std::string::npos) << what << ": " << r.err;
      }
      EXPECT_EQ(r.out, "") << what;
      EXPECT_EQ(files_in(dir), before) << what;
    }
  }
}

TEST(BadCommandLines, RangesAndTypesAreSaidExactly) {
  ScratchDir dir;
  dir.write("d.txt", genotype_data(30));
  EXPECT_EQ(run_program(KESTREL_EXE, {"-perm", "-3"}, dir).err,
            "-perm -3 is out of range: the allowed values are at least 0.\n");
  EXPECT_EQ(run_program(PLOVER_EXE, {"-r", "2"}, dir).err, "-r 2 is out of range: the allowed values are 0 to 1.\n");
  EXPECT_EQ(run_program(WREN_EXE, {"-threads", "1025"}, dir).err,
            "-threads 1025 is out of range: the allowed values are 1 to 1024.\n");
  EXPECT_EQ(run_program(KESTREL_EXE, {"-n", "1e3"}, dir).err,
            "parameter error!\nOption -n expects a whole number, not \"1e3\".\n");
  EXPECT_EQ(run_program(WREN_EXE, {"-r", "1,5"}, dir).err,
            "parameter error!\nOption -r expects a decimal number such as 0.5, not \"1,5\".\n");
  EXPECT_EQ(run_program(KESTREL_EXE, {"-t", "folder/"}, dir).err, " Data file folder/ does not exist!\n");
}

TEST(BadCommandLines, EdgesOfTheRangesRun) {
  ScratchDir dir;
  dir.write("d.txt", genotype_data(30));
  const ProgramRun k = run_program(
      KESTREL_EXE, {"-t", "d.txt", "-n", "+1", "-perm", "0", "-r", "1", "-seed", "-9223372036854775808", "-threads", "1"},
      dir);
  EXPECT_EQ(k.status, 0) << k.err;
  const ProgramRun p = run_program(PLOVER_EXE, {"-t", "d.txt", "-n", "1", "-r", "0", "-r", ".5", "-m", "1"}, dir);
  EXPECT_EQ(p.status, 0) << p.err;
  const ProgramRun w = run_program(WREN_EXE, {"-t", "d.txt", "-o", "1", "-n", "1", "-r", "0e0", "-s", "-7"}, dir);
  EXPECT_EQ(w.status, 0) << w.err;
}

TEST(BadCommandLines, UnreadableFilesAreSaidToBe) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser reads every file";
  ScratchDir dir;
  dir.write("d.txt", genotype_data(30));
  dir.write("locked.txt", genotype_data(30));
  ASSERT_EQ(chmod(dir.file("locked.txt").c_str(), 0), 0);
  for (const Program& p : programs()) {
    const ProgramRun r = run_program(p.exe, {"-t", "locked.txt"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Data file locked.txt cannot be read: Permission denied.\n") << p.name;
  }
}

TEST(GoodCommandLines, ValuesAreReadWholeAndTheLastOneCounts) {
  const char* const argv[] = {"kestrel", "-n", "+7", "-seed", "-1", "-r", "5e-1", "-n", "8", "-fdr", "-.25"};
  const KestrelSettings k = parse_kestrel_args(11, argv);
  EXPECT_EQ(k.ntree, 8);
  EXPECT_TRUE(k.seed_given);
  EXPECT_EQ(k.seed, 0xFFFFFFFFu);  // modulo 2^32
  EXPECT_EQ(k.max_missing, 0.5);
  EXPECT_EQ(k.fdr_level, -0.25);
  const char* const seeds[] = {"kestrel", "-seed", "4294967297"};
  EXPECT_EQ(parse_kestrel_args(3, seeds).seed, 1u);
  const char* const files[] = {"wren", "-p", "a", "-o", "2", "-p", "b", "-t", "x", "-t", "y"};
  const WrenSettings w = parse_wren_args(11, files);
  EXPECT_EQ(w.pred_files, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(w.data_file, "y");
  EXPECT_EQ(w.ntop, 2);
}

TEST(GoodCommandLines, HelpShowsEveryRange) {
  ScratchDir dir;
  for (const Program& p : programs()) {
    const std::string help = run_program(p.exe, {"--help"}, dir).out;
    EXPECT_NE(help.find("  -threads N   threads to work on; the files do not depend on it (1 to 1024)"),
              std::string::npos)
        << p.name;
    EXPECT_NE(help.find("  -r SHARE     "), std::string::npos) << p.name;
    EXPECT_NE(help.find("(0 to 1)"), std::string::npos) << p.name;
    EXPECT_NE(help.find("  -minnode N   smallest number of cases each side of a split must receive (at least 1)"),
              std::string::npos)
        << p.name;
    EXPECT_NE(help.find("  -n N         "), std::string::npos) << p.name;
  }
}
