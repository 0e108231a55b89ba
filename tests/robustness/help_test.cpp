#include <gtest/gtest.h>

#include <filesystem>

#include "programs.hpp"

TEST(HelpAndVersion, EveryProgramListsItsOptionsAndFilesAndWritesNothing) {
  for (const Program& p : programs()) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"-h"}, {"-n", "5", "--help"}}) {
      ScratchDir dir;
      ProgramRun r = run_program(p.exe, args, dir);
      EXPECT_EQ(r.status, 0) << p.name;
      EXPECT_EQ(r.err, "") << p.name;
      EXPECT_EQ(r.out.rfind("Usage: " + p.name + " [option value]...\n", 0), 0u) << p.name;
      for (const std::string& option : p.options)
        EXPECT_NE(r.out.find("\n  " + option + " "), std::string::npos) << p.name << " " << option;
      EXPECT_NE(r.out.find("FILE.inf"), std::string::npos) << p.name;
      int made = 0;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        made += entry.path().filename().string()[0] != '.';
      EXPECT_EQ(made, 0) << p.name;
    }
    ScratchDir dir;
    ProgramRun r = run_program(p.exe, {"--version"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, p.name + " 1.0.0\n");
    r = run_program(p.exe, {"--helpme", "1"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "parameter error!\n\"--helpme\" is not an option of " + p.name + "; it takes " +
                         [&] {
                           std::string words;
                           for (const std::string& option : p.options) words += option + ", ";
                           return words;
                         }() +
                         "-h, --help and --version.\n");
  }
}

TEST(Manual, UserManualAndManualPagesDescribeEveryOption) {
  const std::string manual = read_file(SOURCE_DIR "/docs/manual.md");
  for (const Program& p : programs()) {
    const std::size_t at = manual.find("\n## " + p.name + "\n");
    ASSERT_NE(at, std::string::npos) << p.name;
    const std::string section = manual.substr(at, manual.find("\n## ", at + 1) - at);
    const std::string page = read_file(SOURCE_DIR "/man/" + p.name + ".1");
    for (const std::string& option : p.options) {
      const bool flag = is_flag(option);
      EXPECT_NE(section.find("| `" + option + (flag ? "` " : " ")), std::string::npos) << p.name << " " << option;
      EXPECT_NE(page.find((flag ? ".B \\" : ".BI \\") + option + (flag ? "\n" : " \"")), std::string::npos)
          << p.name << " " << option;
    }
  }
}
