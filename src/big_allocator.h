// An allocator for large buffers that are filled once, such as the values
// a pass keeps: blocks of 1 MiB and more are mapped on their own, aligned
// to 2 MiB and asked to be backed by huge pages (on some systems, virtual
// machines among them, first touching a page costs more than writing the
// values to it), and given back to the system as soon as they are freed,
// so that one step's buffers never stay resident under the next's. On
// Windows such blocks come from VirtualAlloc, aligned to 64 KiB.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <cstddef>
#include <cstdint>
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

  static std::size_t mapped(std::size_t bytes) {
    return (bytes + huge - 1) / huge * huge;
  }

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T) / 2)
      throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < huge / 2) {
      void* p = std::malloc(bytes > 0 ? bytes : 1);
      if (!p) throw std::bad_alloc();
      return static_cast<T*>(p);
    }
#if defined(_WIN32)
    void* block = VirtualAlloc(nullptr, mapped(bytes), MEM_RESERVE | MEM_COMMIT,
                               PAGE_READWRITE);
    if (!block) throw std::bad_alloc();
    return static_cast<T*>(block);
#else
    // Room for a 2 MiB boundary, the rest given back at once.
    const std::size_t size = mapped(bytes);
    void* p = mmap(nullptr, size + huge, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (at + huge - 1) / huge * huge;
    if (aligned > at) munmap(p, aligned - at);
    if (aligned + size < at + size + huge)
      munmap(reinterpret_cast<void*>(aligned + size), at + huge - aligned);
#ifdef MADV_HUGEPAGE  // Linux's
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);  // a hint
#endif
    return reinterpret_cast<T*>(aligned);
#endif
  }
  void deallocate(T* p, std::size_t n) noexcept {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < huge / 2)
      std::free(p);
    else
#if defined(_WIN32)
      VirtualFree(p, 0, MEM_RELEASE);
#else
      munmap(p, mapped(bytes));
#endif
  }

  template <class U>
  bool operator==(const big_allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace kernel_width::detail
