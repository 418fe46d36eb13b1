#pragma once
// The one CPU-feature switch of the search kernels. QM_X86_SIMD: this compiler can emit x86
// SIMD (SSE2 always, AVX2 in functions marked target("avx2")), so those kernels are built;
// cpu_has_avx2() then says, once per process, whether this processor runs them. QM_NO_AVX2=1
// in the environment answers no, so every search takes its portable path (the test command
// runs the differential tests both ways).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QM_X86_SIMD 1
#include <immintrin.h>
#endif
#include <cstdlib>
#include <cstring>

inline bool cpu_has_avx2() {
#ifdef QM_X86_SIMD
    static const bool yes = [] {
        const char* off = std::getenv("QM_NO_AVX2");
        return !(off && std::strcmp(off, "1") == 0) && __builtin_cpu_supports("avx2");
    }();
    return yes;
#else
    return false;
#endif
}
