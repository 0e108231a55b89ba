// Data from pipes, FIFOs and standard input: read once, with the same results as from files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "run_program.hpp"
#include "tokens.hpp"
#include "workflow_data.hpp"

using namespace forests;

namespace {

// Every token of a text read from a pipe, after reading its first line and rewinding once.
std::vector<std::string> tokens_through_pipe(const std::string& text, std::size_t first_line_tokens) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::thread writer([&] {
    for (std::size_t at = 0; at < text.size();) {
      const ssize_t put = write(fds[1], text.data() + at, std::min<std::size_t>(4096, text.size() - at));
      if (put <= 0) break;
      at += static_cast<std::size_t>(put);
    }
    close(fds[1]);
  });
  std::FILE* in = fdopen(fds[0], "rb");
  std::vector<std::string> tokens;
  {
    TokenReader reader(in);
    std::string_view tok;
    for (std::size_t k = 0; k < first_line_tokens && reader.next(tok); ++k) {
    }
    reader.rewind();
    while (reader.next(tok)) tokens.emplace_back(tok);
  }
  writer.join();
  std::fclose(in);
  return tokens;
}

// A plover file wide and long enough that its first line and its rows span many reads.
std::string wide_genotypes(int ncov, int ncase) {
  std::string s = numbered_header(ncov, [](int j) { return j % 7 == 3 ? 'n' : 'o'; });
  for (int i = 0; i < ncase; ++i) {
    for (int j = 0; j < ncov; ++j) s += std::to_string((i * 7 + j * 3 + i * j) % 4 == 3 ? 1 : (i + j) % 3) + " ";
    s += std::to_string(1 + (i % 3 == 0)) + "\n";
  }
  return s;
}

std::vector<std::string> tokens_of(const std::string& text) {
  std::vector<std::string> tokens;
  std::size_t at = 0;
  for (;;) {
    at = text.find_first_not_of(" \t\r\n", at);
    if (at == std::string::npos) return tokens;
    const std::size_t end = text.find_first_of(" \t\r\n", at);
    tokens.push_back(text.substr(at, end - at));
    at = end;
  }
}

// Runs a shell command in the folder; its status.
int shell(const ScratchDir& dir, const std::string& command) {
  const int raw = std::system(("cd '" + dir.path() + "' && " + command + " >.stdout 2>.stderr").c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

}  // namespace

TEST(Pipes, TokenReaderReadsAPipeOnceWithOneRewind) {
  const std::string text = "\xEF\xBB\xBF" + wide_genotypes(40000, 3);  // a first line of 80 kB
  EXPECT_EQ(tokens_through_pipe(text, 40001), tokens_of(text.substr(3)));
  EXPECT_EQ(tokens_through_pipe("o r\na y\n1 2\n", 1), tokens_of("o r\na y\n1 2\n"));
  EXPECT_EQ(tokens_through_pipe("o r", 5), tokens_of("o r"));  // everything read before the rewind
  EXPECT_EQ(tokens_through_pipe("", 1), std::vector<std::string>{});
}

TEST(Pipes, StandardInputAndFifosGiveTheFilesOfRegularFiles) {
  struct Case {
    const char* exe;
    std::string data, predict;
    std::string settings;
    std::vector<std::string> suffixes;
  };
  const std::string genotypes = wide_genotypes(60, 3000);  // 360 kB of rows
  const std::vector<Case> cases{
      {KESTREL_EXE, kestrel_data(), "", "-n 3 -perm 1 -seed 4", {".inf", ".importance"}},
      {PLOVER_EXE, genotypes, wide_genotypes(60, 300), "-n 4 -seed 4 -threads 2", {".inf", ".importance", ".p.txt.pre"}},
      {WREN_EXE, wren_data(), wren_data(), "-o 2 -n 1", {".inf", ".count", ".p.txt.pre"}},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    dir.write("d.txt", c.data);
    const bool classifies = !c.predict.empty();
    if (classifies) dir.write("p.txt", c.predict);
    const std::string exe = std::string("'") + c.exe + "' " + c.settings;
    const std::string p = classifies ? " -p " : "";
    ASSERT_EQ(shell(dir, exe + " -t d.txt -out file" + (classifies ? p + "p.txt" : "")), 0) << dir.read(".stderr");
    const std::string reference_out = masked_times(dir.read(".stdout"));

    // Standard input from a pipe, the file to classify from a FIFO.
    std::filesystem::create_directory(dir.file("fifo"));
    ASSERT_EQ(mkfifo(dir.file("fifo/p.txt").c_str(), 0600), 0);
    const std::string feed = classifies ? "(cat p.txt > fifo/p.txt &) && " : "";
    ASSERT_EQ(shell(dir, feed + "cat d.txt | " + exe + " -t - -out piped" + (classifies ? p + "fifo/p.txt" : "")), 0)
        << c.exe << dir.read(".stderr");
    std::string out = masked_times(dir.read(".stdout"));
    if (classifies) out.erase(out.find("fifo/p.txt"), 5);
    EXPECT_EQ(out, reference_out) << c.exe;

    // The training file from a FIFO.
    ASSERT_EQ(mkfifo(dir.file("fifo/d.txt").c_str(), 0600), 0);
    ASSERT_EQ(shell(dir, "(cat d.txt > fifo/d.txt &) && " + exe + " -t fifo/d.txt -out fifo/run" +
                             (classifies ? p + "p.txt" : "")),
              0)
        << c.exe << dir.read(".stderr");

    for (const std::string& suffix : c.suffixes) {
      EXPECT_EQ(dir.read("piped" + suffix), dir.read("file" + suffix)) << c.exe << suffix;
      EXPECT_EQ(dir.read("fifo/run" + suffix), dir.read("file" + suffix)) << c.exe << suffix;
    }
  }
}
