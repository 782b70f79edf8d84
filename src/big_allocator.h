// An allocator for large buffers that are filled once, such as the values
// a pass keeps: blocks of 1 MiB and more are aligned to 2 MiB and asked to
// be backed by huge pages, since on some systems (virtual machines among
// them) first touching a page costs more than writing the values to it.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace kernel_width::detail {

template <class T>
struct big_allocator {
  using value_type = T;
  static constexpr std::size_t huge = std::size_t{2} << 20;

  big_allocator() = default;
  template <class U>
  big_allocator(const big_allocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    void* p = nullptr;
    if (bytes >= huge / 2) {
      p = std::aligned_alloc(huge, (bytes + huge - 1) / huge * huge);
      if (p) madvise(p, bytes, MADV_HUGEPAGE);  // a hint: no harm if refused
    } else {
      p = std::malloc(bytes > 0 ? bytes : 1);
    }
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { std::free(p); }

  template <class U>
  bool operator==(const big_allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace kernel_width::detail
