#pragma once
// Allocator for the big columns of the catalogue and its search key: blocks of several megabytes
// come straight from the system and are marked for huge pages, so filling a million records takes a
// few hundred page faults instead of hundreds of thousands.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

template <typename T> struct large_allocator {
    using value_type = T;
    static constexpr std::size_t large_bytes = std::size_t{4} << 20;

    large_allocator() noexcept = default;
    template <typename U> large_allocator(const large_allocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
#if defined(__linux__)
        if (bytes >= large_bytes) {
            void* p =
                ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            ::madvise(p, bytes, MADV_HUGEPAGE);
            return static_cast<T*>(p);
        }
#endif
        if (void* p = std::malloc(bytes ? bytes : 1)) return static_cast<T*>(p);
        throw std::bad_alloc();
    }

    void deallocate(T* p, std::size_t n) noexcept {
#if defined(__linux__)
        if (n * sizeof(T) >= large_bytes) {
            ::munmap(p, n * sizeof(T));
            return;
        }
#endif
        std::free(p);
    }

    // resize() leaves new elements of plain types unwritten: readers fill them at once, and
    // fresh pages from the system are zero anyway.
    template <typename U> void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U> bool operator==(const large_allocator<U>&) const noexcept {
        return true;
    }
};

template <typename T> using large_vector = std::vector<T, large_allocator<T>>;
