#include "fatal.hpp"
#include "plover.hpp"

int main(int argc, char** argv) {
  return guarded_main([&] { return run_plover(parse_plover_args(argc, argv)); });
}
