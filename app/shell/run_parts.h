#pragma once
// One fork-join for every parallel loop of the program: a range split into contiguous parts,
// part 0 run on the calling thread and the others on threads as far as the system gives them.
// A part whose thread could not start runs on the calling thread too, so a process out of
// threads is slower, never wrong; every started thread is joined, and the first exception of
// any part is thrown once all have ended.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

// Runs part(k, b, e) for k < n over the n contiguous ranges [b, e) of [0, count).
template <class Index, class Part> void run_parts(Index count, unsigned n, Part&& part) {
    if (n <= 1) {
        part(0u, Index{0}, count);
        return;
    }
    auto bound = [&](unsigned k) {
        return static_cast<Index>(static_cast<std::uint64_t>(count) * k / n);
    };
    std::vector<std::thread> workers;
    std::vector<std::exception_ptr> failures(n);
    workers.reserve(n - 1);
    unsigned started = 1;
    for (unsigned k = 1; k < n; ++k) {
        try {
            workers.emplace_back([&, k] {
                try {
                    part(k, bound(k), bound(k + 1));
                } catch (...) {
                    failures[k] = std::current_exception();
                }
            });
            ++started;
        } catch (const std::system_error&) {
            break; // no more threads to be had: the rest runs here
        }
    }
    try {
        part(0u, bound(0), bound(1));
        for (unsigned k = started; k < n; ++k) part(k, bound(k), bound(k + 1));
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& w : workers) w.join();
    for (const std::exception_ptr& f : failures)
        if (f) std::rethrow_exception(f);
}

// The parts worth making for `count` items when each part should hold at least `least`:
// at most the cores there are.
inline unsigned parts_for(std::uint64_t count, std::uint64_t least) {
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::uint64_t by_size = least ? count / least : count;
    return static_cast<unsigned>(
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(cores, by_size)));
}
