// The main routine of kestrel.
#include "program_shell.hpp"
#include "kestrel.hpp"

using namespace forests;

int main(int argc, char** argv) {
  return program_main([&] { return run_kestrel(parse_kestrel_args(argc, argv)); });
}
