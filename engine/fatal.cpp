// The one error type's throw sites, printf-style formatting and the guarded main.
#include "fatal.hpp"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <stdexcept>

namespace forests {

void fail(std::string text) { throw FatalError{std::move(text)}; }

void fatal_error(const std::string& message) {
  fail("Numerical Recipes run-time error ...\n" + message + "\n");
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list copy;
  va_copy(copy, ap);
  int len = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(len > 0 ? static_cast<std::size_t>(len) : 0, '\0');
  if (len > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
  va_end(ap);
  return out;
}

int guarded_main(const std::function<int()>& body) {
  try {
    return body();
  } catch (const EarlyExit& e) {
    std::fputs(e.text.c_str(), stdout);
    return 0;
  } catch (const FatalError& e) {
    std::fflush(stdout);
    std::fputs(e.text.c_str(), stderr);
    return 255;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fputs("Numerical Recipes run-time error ...\nallocation failure\n", stderr);
    return 255;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "The run stopped on an unexpected error: %s\n", e.what());
    return 255;
  } catch (...) {
    std::fflush(stdout);
    std::fputs("The run stopped on an unexpected error.\n", stderr);
    return 255;
  }
}

std::vector<int> ivector(std::size_t n) { return guarded_vector<int>(n, "allocation failure in ivector()"); }

}  // namespace forests
