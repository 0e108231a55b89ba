// Whole runs of the three programs on arbitrary data, with small settings: the first byte
// picks the program, the rest is a training file, a NUL byte and a file to classify. A run
// ends normally or with a fatal message, never with a crash, a hang or a memory blow-up.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz_input.hpp"
#include "kestrel.hpp"
#include "plover.hpp"
#include "wren.hpp"

using namespace forests;

namespace {

// A folder of this process for the data and output files, removed at exit.
std::string* scratch = nullptr;

void remove_scratch() { std::filesystem::remove_all(*scratch); }

const std::string& scratch_dir() {
  if (!scratch) {
    std::string templ = (std::filesystem::temp_directory_path() / "fuzz-runs-XXXXXX").string();
    scratch = new std::string(mkdtemp(templ.data()));
    std::atexit(remove_scratch);
  }
  return *scratch;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!std::freopen("/dev/null", "w", stdout)) return 1;  // the progress lines
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto [training_text, prediction_text] = split_at_nul(data + 1, size - 1);
  const std::string train = scratch_dir() + "/d.txt", predict = scratch_dir() + "/p.txt";
  write_file(train, training_text);
  write_file(predict, prediction_text);
  try {
    switch (data[0] % 3) {
      case 0: {
        KestrelSettings s;
        s.data_file = train;
        s.ntree = 3;
        s.nperm = 1;
        s.minnode = 1;
        s.seed_given = true;
        run_kestrel(s);
        break;
      }
      case 1: {
        PloverSettings s;
        s.data_file = train;
        s.pred_files = {predict};
        s.ntree = 3;
        s.seed_given = true;
        run_plover(s);
        break;
      }
      default: {
        WrenSettings s;
        s.data_file = train;
        s.pred_files = {predict};
        s.ntop = 3;
        s.nsub = 2;
        run_wren(s);
        break;
      }
    }
  } catch (const FatalError&) {
    // a clean stop
  }
  return 0;
}
