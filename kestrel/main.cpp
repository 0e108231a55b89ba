#include "fatal.hpp"
#include "kestrel.hpp"

int main(int argc, char** argv) {
  return guarded_main([&] { return run_kestrel(parse_kestrel_args(argc, argv)); });
}
