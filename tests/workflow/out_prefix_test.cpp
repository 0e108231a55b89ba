// -out PREFIX: every output named from the prefix, nothing written beside the data files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "run_program.hpp"
#include "workflow_data.hpp"

namespace fs = std::filesystem;

namespace {

std::set<std::string> listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

struct Program {
  const char* exe;
  std::string data;
  std::vector<std::string> settings;
  std::vector<std::string> suffixes;  // of the training outputs
  bool classifies;
};

std::vector<Program> programs() {
  return {
      {KESTREL_EXE, kestrel_data(), {"-n", "3", "-perm", "1", "-seed", "5"}, {".inf", ".importance"}, false},
      {PLOVER_EXE, plover_data(), {"-n", "5", "-seed", "5"}, {".inf", ".importance"}, true},
      {WREN_EXE, wren_data(), {"-o", "2", "-n", "1"}, {".inf", ".count"}, true},
  };
}

}  // namespace

TEST(OutPrefix, ReadOnlyDataFolderAnalysed) {
  for (const Program& p : programs()) {
    ScratchDir dir;
    fs::create_directories(dir.file("ro"));
    fs::create_directories(dir.file("results"));
    dir.write("ro/d.txt", p.data);
    dir.write("ro/new.txt", p.data);
    dir.write("beside.txt", p.data);
    dir.write("new.txt", p.data);
    chmod(dir.file("ro").c_str(), 0555);

    std::vector<std::string> args{"-t", "ro/d.txt", "-out", "results/run"};
    std::vector<std::string> plain{"-t", "beside.txt"};
    if (p.classifies) {
      args.insert(args.end(), {"-p", "ro/new.txt"});
      plain.insert(plain.end(), {"-p", "new.txt"});
    }
    args.insert(args.end(), p.settings.begin(), p.settings.end());
    plain.insert(plain.end(), p.settings.begin(), p.settings.end());
    const ProgramRun r = run_program(p.exe, args, dir);
    const ProgramRun reference = run_program(p.exe, plain, dir);
    chmod(dir.file("ro").c_str(), 0755);
    ASSERT_EQ(r.status, 0) << p.exe << r.err;
    ASSERT_EQ(reference.status, 0) << reference.err;

    EXPECT_EQ(listing(dir.file("ro")), (std::set<std::string>{"d.txt", "new.txt"})) << p.exe;
    std::set<std::string> want;
    for (const std::string& suffix : p.suffixes) {
      want.insert("run" + suffix);
      EXPECT_EQ(dir.read("results/run" + suffix), dir.read("beside.txt" + suffix)) << p.exe << suffix;
    }
    if (p.classifies) {
      want.insert("run.new.txt.pre");
      EXPECT_EQ(dir.read("results/run.new.txt.pre"), dir.read("new.txt.pre")) << p.exe;
    }
    EXPECT_EQ(listing(dir.file("results")), want) << p.exe;
    std::string out = masked_times(r.out);
    if (p.classifies) out.replace(out.find("ro/new.txt"), 3, "");
    EXPECT_EQ(out, masked_times(reference.out));
  }
}

TEST(OutPrefix, RefusedBeforeAnyWork) {
  for (const Program& p : programs()) {
    ScratchDir dir;
    dir.write("d.txt", p.data);
    dir.write("file", "");
    fs::create_directories(dir.file("a"));
    fs::create_directories(dir.file("b"));
    dir.write("a/x.txt", p.data);
    dir.write("b/x.txt", p.data);
    const std::set<std::string> before = listing(dir.path());
    struct Bad {
      std::vector<std::string> args;
      std::string message;
    };
    std::vector<Bad> bad{
        {{"-out", "nowhere/run"}, "The folder nowhere of the output prefix nowhere/run does not exist (-out).\n"},
        {{"-out", "file/run"}, "file, in the output prefix file/run, is not a folder (-out).\n"},
        {{"-out", "a/"}, "The output prefix a/ must end with a name, as in results/trial (-out).\n"},
    };
    if (p.classifies)
      bad.push_back({{"-out", "run", "-p", "a/x.txt", "-p", "b/x.txt"},
                     "The files to classify a/x.txt and b/x.txt have the same name; with -out both would be written "
                     "to run.x.txt.pre.\n"});
    for (Bad& b : bad) {
      b.args.insert(b.args.begin(), {"-t", "d.txt"});
      const ProgramRun r = run_program(p.exe, b.args, dir);
      EXPECT_EQ(r.status, 255) << p.exe << " " << b.args[3];
      EXPECT_EQ(r.err, b.message);
      EXPECT_EQ(r.out, "");
      std::set<std::string> after = listing(dir.path());
      after.erase(".stdout");
      after.erase(".stderr");
      EXPECT_EQ(after, before) << p.exe;
    }
  }
}
