// Running times printed in the progress lines: whole milliseconds divided by 1000.
#pragma once

#include <chrono>

namespace forests {

class RunClock {
 public:
  RunClock() : start_(std::chrono::steady_clock::now()) {}
  double seconds() const {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    return static_cast<double>(ms.count()) / 1000.0;
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace forests
