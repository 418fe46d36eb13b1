// The driver: rows split among threads (run_parts), each part decided a block at a time,
// every column by the way its plan chose (filter_plan.h), with the SIMD arena scan
// (filter_arena_scan.h) where the processor has AVX2 and a search per literal elsewhere.
#include "search/language/filter_evaluator.h"

#include "app/shell/run_parts.h"
#include "search/language/cpu_features.h"
#include "search/language/filter_plan.h"
#include "search/language/pinyin_key.h"
#include "search/language/row_at_offset.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <thread>

namespace {

// Below this many rows one thread is quicker than starting others.
constexpr std::uint32_t parallel_threshold = 65536;
constexpr std::uint32_t min_rows_per_thread = 32768;
constexpr unsigned max_threads = 8;

// Rows are decided a block at a time, every term of every column over the block before the
// next: a block's texts stay in the cache, so several terms on one column cost about one
// pass over its memory instead of one each.
constexpr std::uint32_t block_rows = 8192;

// One search for the matcher's first literal over the arena span of rows [b, e): each hit
// is mapped to its row, and counts only when it lies wholly inside that row's text and the
// rest of the pattern matches after it. The first hit in a row is its leftmost, which
// decides the row, so the search goes on at the next row either way. out[r - b] is row r's.
void ordered_contains(const text_arena_view& a, const text_matcher& matcher, std::uint32_t b,
                      std::uint32_t e, std::uint8_t* out) {
    const std::u16string& literal = matcher.first_literal();
    if (b >= e) return; // more threads than rows leaves some with none
    const std::size_t m = literal.size();
    const std::size_t limit = arena_text_end(a, b, e);
    std::size_t pos = a.offsets[b];
    std::uint32_t row = b;
    while (m > 0 && pos < limit) {
        const std::size_t hit = filter_find_literal(a.data, pos, limit, literal);
        if (hit == filter_not_found) break;
        row = row_at(a.offsets, row, e, hit);
        const std::uint16_t len = a.lengths[row];
        const std::size_t end = std::size_t{a.offsets[row]} + (len == null_text_length ? 0 : len);
        if (hit + m <= end) {
            if (!out[row - b] && matcher.rest_matches(a.data + hit + m, end - (hit + m)))
                out[row - b] = 1;
            pos = end;
        } else {
            pos = hit + 1; // across the end of a row's text
        }
    }
}

// Rows [b, e) of one column; out[r - b] is row r's.
void evaluate_rows(const column_plan& plan, std::uint32_t b, std::uint32_t e, std::uint8_t* out) {
    switch (plan.access.how) {
    case column_access::kind::arena: {
        const text_arena_view& a = plan.access.arena;
#ifdef QM_X86_SIMD
        if (cpu_has_avx2()) {
            scan_output sink{out};
            for (const arena_group& group : plan.arena_groups)
                scan_arena_avx2(a, group, b, e, sink);
        } else
#endif
            for (const text_matcher* m : plan.whole_arena) ordered_contains(a, *m, b, e, out);
        if (plan.per_row.empty()) break;
        for (std::uint32_t r = b; r < e; ++r) {
            const std::uint16_t len = a.lengths[r];
            if (out[r - b] || len == null_text_length) continue;
            const std::size_t s = a.offsets[r];
            if (s + len > a.size) continue;
            if (any_matches(plan.per_row, a.data + s, len)) out[r - b] = 1;
        }
        break;
    }
    case column_access::kind::dictionary: {
        const std::uint32_t* ids = plan.access.dictionary.ids;
        const std::uint32_t beyond = static_cast<std::uint32_t>(plan.dictionary_pass.size() - 1);
        const std::uint8_t* pass = plan.dictionary_pass.data();
        for (std::uint32_t r = b; r < e; ++r) out[r - b] |= pass[std::min(ids[r], beyond)];
        break;
    }
    case column_access::kind::pinyin_key:
    case column_access::kind::pinyin_full:
        if (!plan.access.key) break;
        for (const std::string& q : plan.key_queries) plan.access.key->contains(q, b, e, out);
        if (!plan.access.key_names) break;
        for (const pinyin_full_query& q : plan.full_queries)
            q.find(*plan.access.key, plan.access.key_names, b, e, out,
                   plan.access.key_names_ahead ? &plan.access.key_names_ahead : nullptr);
        break;
    case column_access::kind::generic: {
        if (!plan.access.text_of) break;
        QString text;
        for (std::uint32_t r = b; r < e; ++r) {
            if (out[r - b] || !plan.access.text_of(r, text)) continue;
            const QStringView v(text);
            if (any_matches(plan.per_row, v.utf16(), static_cast<std::size_t>(v.size())))
                out[r - b] = 1;
        }
        break;
    }
    }
}

#ifdef QM_X86_SIMD
// For each set of eight lanes (a bit each), the lanes that are set, lowest first, then zeros.
struct lane_order {
    std::uint64_t of[256];
    constexpr lane_order() : of{} {
        for (unsigned bits = 0; bits < 256; ++bits) {
            unsigned n = 0;
            for (unsigned lane = 0; lane < 8; ++lane)
                if (bits >> lane & 1u) of[bits] |= std::uint64_t{lane} << (8 * n++);
        }
    }
};
constexpr lane_order lanes_set;

// The rows of [b, e) whose id is one of `wanted` (N of them, repeats allowed), eight at a time
// (SIMD): each row's id is compared with every wanted id, and the rows that match are packed
// down to ids[n] by one store. Answers where the rest must be looked at one row at a time.
// BM_query_pictures 10M: 2.0 ms SIMD vs 3.9 ms portable.
template <std::size_t N>
__attribute__((target("avx2"))) std::uint32_t
dictionary_rows_avx2(const std::uint32_t* text_ids, const std::uint32_t* wanted, std::uint32_t b,
                     std::uint32_t e, std::uint32_t* ids, std::size_t& n) {
    __m256i want[N];
    for (std::size_t k = 0; k < N; ++k) want[k] = _mm256_set1_epi32(static_cast<int>(wanted[k]));
    const __m256i step = _mm256_set1_epi32(8);
    __m256i rows = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(b)),
                                    _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    std::uint32_t r = b;
    for (; e - r >= 8; r += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text_ids + r));
        __m256i hit = _mm256_cmpeq_epi32(v, want[0]);
        for (std::size_t k = 1; k < N; ++k)
            hit = _mm256_or_si256(hit, _mm256_cmpeq_epi32(v, want[k]));
        const auto bits = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(hit)));
        const __m256i order =
            _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(lanes_set.of[bits])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ids + n),
                            _mm256_permutevar8x32_epi32(rows, order));
        n += static_cast<std::size_t>(std::popcount(bits));
        rows = _mm256_add_epi32(rows, step);
    }
    return r;
}
#endif

// The rows of [b, e) that pass a plan on one dictionary column, into ids (room for e - b + 1),
// in order; answers how many. A row costs a compare per passing text when few pass (a picture
// query's extensions), else a look-up, and never a branch.
std::size_t dictionary_rows(const column_plan& plan, std::uint32_t b, std::uint32_t e,
                            std::uint32_t* ids) {
    const std::uint32_t* text_ids = plan.access.dictionary.ids;
    const std::vector<std::uint32_t>& wanted = plan.dictionary_ids;
    std::size_t n = 0;
    if (wanted.empty()) return 0;
    std::uint32_t r = b;
#ifdef QM_X86_SIMD
    if (cpu_has_avx2() && wanted.size() <= 8) {
        // Repeats of the last fill the compares up to a count the loop is built for.
        std::uint32_t padded[8];
        for (std::size_t k = 0; k < 8; ++k) padded[k] = wanted[std::min(k, wanted.size() - 1)];
        if (wanted.size() <= 2)
            r = dictionary_rows_avx2<2>(text_ids, padded, b, e, ids, n);
        else if (wanted.size() <= 4)
            r = dictionary_rows_avx2<4>(text_ids, padded, b, e, ids, n);
        else
            r = dictionary_rows_avx2<8>(text_ids, padded, b, e, ids, n);
    }
#endif
    const std::uint32_t beyond = static_cast<std::uint32_t>(plan.dictionary_pass.size() - 1);
    const std::uint8_t* pass = plan.dictionary_pass.data();
    for (; r < e; ++r) {
        ids[n] = r;
        n += pass[std::min(text_ids[r], beyond)];
    }
    return n;
}

// Whether the rows that pass are those of one scan (one column: its dictionary ids, one SIMD
// scan of its arena, or one query of the pinyin key), which hands them over in order without
// a byte per row.
bool one_scan(const std::vector<column_plan>& plans) {
    if (plans.size() == 1 && plans.front().access.how == column_access::kind::dictionary)
        return true;
    if (plans.size() != 1 || !cpu_has_avx2()) return false;
    const column_plan& p = plans.front();
    if (p.access.how == column_access::kind::arena)
        return p.arena_groups.size() == 1 && p.per_row.empty();
    return p.access.how == column_access::kind::pinyin_key && p.access.key != nullptr &&
           p.key_queries.size() == 1;
}

// The rows of [b, e) that pass a one_scan plan, into ids (room for e - b + 1), in order;
// answers how many.
std::size_t scan_rows(const column_plan& plan, std::uint32_t b, std::uint32_t e,
                      std::uint32_t* ids) {
    if (plan.access.how == column_access::kind::dictionary) return dictionary_rows(plan, b, e, ids);
    if (plan.access.how == column_access::kind::pinyin_key)
        return plan.access.key->contains_rows(plan.key_queries.front(), b, e, ids);
#ifdef QM_X86_SIMD
    scan_output sink{nullptr, ids};
    scan_arena_avx2(plan.access.arena, plan.arena_groups.front(), b, e, sink);
    return sink.count;
#else
    return 0; // one_scan never chose it
#endif
}

unsigned choose_threads(std::uint32_t rows, unsigned asked) {
    if (asked == 0) {
        if (rows < parallel_threshold) return 1;
        // Asked once: the answer reads a system file.
        static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        asked = std::min({cores, max_threads, rows / min_rows_per_thread});
    }
    return std::max(1u, std::min(asked, std::max(rows, 1u)));
}

// Decides rows [b, e) block by block into `scratch` (block_rows bytes), then hands each
// block to `take(first row, bytes, count)`.
template <class Take>
void evaluate_range(const std::vector<column_plan>& plans, std::uint32_t b, std::uint32_t e,
                    std::uint8_t* scratch, Take&& take) {
    for (std::uint32_t s = b; s < e;) {
        const std::uint32_t t = s + std::min(block_rows, e - s);
        std::memset(scratch, 0, t - s);
        for (const column_plan& plan : plans) evaluate_rows(plan, s, t, scratch);
        take(s, static_cast<const std::uint8_t*>(scratch), t - s);
        s = t;
    }
}

// Appends first + i for every non-zero byte i of bytes[0, n), in order.
void append_passing(std::uint32_t first, const std::uint8_t* bytes, std::uint32_t n,
                    std::vector<std::uint32_t>& out) {
    std::uint32_t i = 0;
#ifdef QM_X86_SIMD
    // SSE2, sixteen bytes at a time.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        auto mask =
            static_cast<std::uint32_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & 0xFFFFu;
        while (mask != 0) {
            out.push_back(first + i + static_cast<std::uint32_t>(std::countr_zero(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; i < n; ++i)
        if (bytes[i]) out.push_back(first + i);
}

} // namespace

std::vector<std::uint8_t> evaluate_filter(const filter_expr& expr, const filter_source& source,
                                          unsigned threads) {
    const std::uint32_t rows = source.row_count();
    if (expr.passes_everything()) return std::vector<std::uint8_t>(rows, 1);
    std::vector<std::uint8_t> out(rows, 0);
    if (rows == 0) return out;
    const std::vector<column_plan> plans = make_plans(expr, source);
    run_parts(rows, choose_threads(rows, threads), [&](unsigned, std::uint32_t b, std::uint32_t e) {
        std::vector<std::uint8_t> scratch(block_rows);
        evaluate_range(plans, b, e, scratch.data(),
                       [&](std::uint32_t first, const std::uint8_t* bytes, std::uint32_t n) {
                           std::memcpy(out.data() + first, bytes, n);
                       });
    });
    return out;
}

std::vector<std::uint32_t> filter_passing_rows(const filter_expr& expr, const filter_source& source,
                                               unsigned threads) {
    const std::uint32_t rows = source.row_count();
    std::vector<std::uint32_t> out;
    if (expr.passes_everything()) {
        out.resize(rows);
        for (std::uint32_t r = 0; r < rows; ++r) out[r] = r;
        return out;
    }
    if (rows == 0) return out;
    const std::vector<column_plan> plans = make_plans(expr, source);
    const unsigned n = choose_threads(rows, threads);
    std::vector<std::vector<std::uint32_t>> parts(n);
    if (one_scan(plans)) {
        run_parts(rows, n, [&](unsigned k, std::uint32_t b, std::uint32_t e) {
            std::vector<std::uint32_t> ids(block_rows + 1);
            for (std::uint32_t s = b; s < e;) {
                const std::uint32_t t = s + std::min(block_rows, e - s);
                const std::size_t count = scan_rows(plans.front(), s, t, ids.data());
                parts[k].insert(parts[k].end(), ids.data(), ids.data() + count);
                s = t;
            }
        });
    } else {
        run_parts(rows, n, [&](unsigned k, std::uint32_t b, std::uint32_t e) {
            std::vector<std::uint8_t> scratch(block_rows);
            evaluate_range(
                plans, b, e, scratch.data(),
                [&](std::uint32_t first, const std::uint8_t* bytes, std::uint32_t count) {
                    append_passing(first, bytes, count, parts[k]);
                });
        });
    }
    if (n == 1) return std::move(parts[0]);
    std::size_t total = 0;
    for (const auto& p : parts) total += p.size();
    out.reserve(total);
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::uint8_t> evaluate_filter(const filter_expr& expr, const filter_source& source) {
    return evaluate_filter(expr, source, 0);
}
