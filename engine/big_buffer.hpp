// Large work buffers of plain bytes or numbers: left unfilled until written, and, from a few
// megabytes to some tens of megabytes, backed by huge pages where the system allows, so that
// filling them costs a few page faults rather than one per 4 KB page.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

namespace forests {

// Buffers from this size on are aligned to huge pages, and advised as such up to the second
// size: a larger one, first written in scattered tiles (the store of a wide file's cells), took
// longer to clear in huge pages than it saved in faults (a 1 GB file read a fifth slower).
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugePagesUpTo = std::size_t{64} << 20;

template <class T>
struct BigBufferAllocator {
  static_assert(std::is_trivial_v<T>);
  using value_type = T;
  BigBufferAllocator() = default;
  template <class U>
  BigBufferAllocator(const BigBufferAllocator<U>&) {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) return static_cast<T*>(::operator new(bytes));
    if (n > std::numeric_limits<std::size_t>::max() / 4 / sizeof(T)) throw std::bad_alloc();
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    if (rounded <= kHugePagesUpTo) madvise(p, rounded, MADV_HUGEPAGE);  // advice only
#endif
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kHugePage)
      ::operator delete(p);
    else
      std::free(p);
  }
  // Elements made without a value are left unfilled (resize, the size constructor).
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const BigBufferAllocator<U>&) const {
    return true;
  }
};

// A vector whose new elements are left unfilled unless given a value.
template <class T>
using BigBuffer = std::vector<T, BigBufferAllocator<T>>;

}  // namespace forests
