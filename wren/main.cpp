#include "fatal.hpp"
#include "wren.hpp"

int main(int argc, char** argv) {
  return guarded_main([&] { return run_wren(parse_wren_args(argc, argv)); });
}
