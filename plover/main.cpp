// The main routine of plover.
#include "program_shell.hpp"
#include "plover.hpp"

using namespace forests;

int main(int argc, char** argv) {
  return program_main([&] { return run_plover(parse_plover_args(argc, argv)); });
}
