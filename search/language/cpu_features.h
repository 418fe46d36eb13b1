#pragma once
// Whether this processor runs AVX2, asked once; the wide search loops are chosen by it at run
// time, so one build serves older processors too.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
inline bool cpu_has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif
