#include "run_program.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string templ = (fs::temp_directory_path() / "forest-test-XXXXXX").string();
  path_ = mkdtemp(templ.data());
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void ScratchDir::write(const std::string& name, const std::string& text) const {
  std::ofstream(file(name), std::ios::binary) << text;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string ScratchDir::read(const std::string& name) const { return read_file(file(name)); }

bool ScratchDir::exists(const std::string& name) const { return fs::exists(file(name)); }

ProgramRun run_program(const std::string& exe, const std::vector<std::string>& args, const ScratchDir& dir) {
  std::string cmd = "cd '" + dir.path() + "' && '" + exe + "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " >.stdout 2>.stderr </dev/null";
  ProgramRun r;
  int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = dir.read(".stdout");
  r.err = dir.read(".stderr");
  return r;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
