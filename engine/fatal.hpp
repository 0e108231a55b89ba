// Fatal errors and guarded allocation.
//
// Nothing below main exits the process: every fatal condition throws FatalError carrying the
// exact text for standard error, and each program's main prints it and returns 255.
#pragma once

#include <cstddef>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace forests {

struct FatalError {
  std::string text;
};

// A run that ends at once with `text` on standard output and status 0 (help, version).
struct EarlyExit {
  std::string text;
};

// Throws FatalError with `text` as it stands.
[[noreturn]] void fail(std::string text);

// The two-line form used for exhausted memory and the allocation messages.
[[noreturn]] void fatal_error(const std::string& message);

// printf-style formatting into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Runs a program body, turning FatalError into its message on standard error and status 255,
// and EarlyExit into its text on standard output and status 0. Exhausted memory gives the
// allocation message, any other exception one line; status 255 either way.
int guarded_main(const std::function<int()>& body);

// Zero-filled vectors; exhausted memory ends through fatal_error with the routine's message.
template <class T>
std::vector<T> guarded_vector(std::size_t n, const char* message) {
  try {
    return std::vector<T>(n);
  } catch (const std::bad_alloc&) {
    fatal_error(message);
  } catch (const std::length_error&) {
    fatal_error(message);
  }
}

std::vector<int> ivector(std::size_t n);

// Runs `grow` (a push_back, resize...) and reports exhausted memory with `message`.
template <class F>
void guarded_grow(F&& grow, const char* message) {
  try {
    grow();
  } catch (const std::bad_alloc&) {
    fatal_error(message);
  } catch (const std::length_error&) {
    fatal_error(message);
  }
}

}  // namespace forests
