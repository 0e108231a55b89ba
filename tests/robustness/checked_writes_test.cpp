// Results are never lost silently: a write that fails (here every write to /dev/full, which
// accepts the open) ends the run with the over-write message and status 255.
#include <gtest/gtest.h>

#include <filesystem>

#include "programs.hpp"

TEST(CheckedWrites, EveryOutputFileOnAFullDevice) {
  struct Case {
    std::string exe;
    std::vector<std::string> args;
    std::string output;
  };
  const std::vector<std::string> kestrel_args{"-t", "d.txt", "-seed", "1", "-n", "2", "-perm", "1"};
  const std::vector<std::string> plover_args{"-t", "d.txt", "-seed", "1", "-n", "2", "-p", "p.txt"};
  const std::vector<std::string> wren_args{"-t", "d.txt", "-o", "2", "-n", "1", "-p", "p.txt"};
  const std::vector<Case> cases{
      {KESTREL_EXE, kestrel_args, "d.txt.inf"},  {KESTREL_EXE, kestrel_args, "d.txt.importance"},
      {PLOVER_EXE, plover_args, "d.txt.inf"},    {PLOVER_EXE, plover_args, "d.txt.importance"},
      {PLOVER_EXE, plover_args, "p.txt.pre"},    {WREN_EXE, wren_args, "d.txt.inf"},
      {WREN_EXE, wren_args, "d.txt.count"},      {WREN_EXE, wren_args, "p.txt.pre"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    dir.write("d.txt", genotype_data(300));
    dir.write("p.txt", genotype_data(300));
    std::filesystem::create_symlink("/dev/full", dir.file(c.output));
    ProgramRun r = run_program(c.exe, c.args, dir);
    EXPECT_EQ(r.status, 255) << c.exe << " " << c.output;
    EXPECT_EQ(r.err, "Cannot over-write to file " + c.output + ". It seems protected.\n") << c.exe;
  }
}
