#include "fatal.hpp"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <stdexcept>

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

std::vector<double> dvector(std::size_t n) { return guarded_vector<double>(n, "allocations failure in dvector"); }

std::vector<std::vector<double>> matrix(std::size_t nrow, std::size_t ncol) {
  auto m = guarded_vector<std::vector<double>>(nrow, "error in matrix");
  for (auto& row : m) row = guarded_vector<double>(ncol, "error in matrix");
  return m;
}

std::vector<std::vector<int>> imatrix(std::size_t nrow, std::size_t ncol) {
  auto m = guarded_vector<std::vector<int>>(nrow, "error in imatrix");
  for (auto& row : m) row = guarded_vector<int>(ncol, "error in imatrix");
  return m;
}

std::vector<int> icopy_point_array(const int* source, std::size_t n) {
  auto v = guarded_vector<int>(n, "allocation failure in icopy_point_array()");
  for (std::size_t i = 0; i < n; ++i) v[i] = source[i];
  return v;
}

std::vector<double> dcopy_point_array(const double* source, std::size_t n) {
  auto v = guarded_vector<double>(n, "allocation failure in dcopy_point_array()");
  for (std::size_t i = 0; i < n; ++i) v[i] = source[i];
  return v;
}
