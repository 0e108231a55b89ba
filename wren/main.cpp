// The main routine of wren.
#include "program_shell.hpp"
#include "wren.hpp"

using namespace forests;

int main(int argc, char** argv) {
  return program_main([&] { return run_wren(parse_wren_args(argc, argv)); });
}
