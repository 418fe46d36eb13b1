#include "catalogue/core/folder_read_ahead.h"

#include "catalogue/core/n_filetouch.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::int64_t ticks_per_second = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t unix_epoch_in_1601_seconds = 11'644'473'600;
// No conversion accepts a file time with the top bit set.
constexpr std::uint64_t unconvertible_ticks = ~std::uint64_t{0};
// Entries the walk waits for at once when it has caught up with the workers.
constexpr std::size_t wake_batch = 16;

std::uint64_t to_filetime_ticks(const statx_timestamp& t) {
    constexpr std::int64_t max_seconds = INT64_MAX / ticks_per_second - unix_epoch_in_1601_seconds;
    if (t.tv_sec < -unix_epoch_in_1601_seconds || t.tv_sec > max_seconds)
        return unconvertible_ticks;
    return static_cast<std::uint64_t>((t.tv_sec + unix_epoch_in_1601_seconds) * ticks_per_second +
                                      t.tv_nsec / 100);
}

bool is_dot_entry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

void look_at_entry(int dirfd, const char* name, entry_facts& e) {
    e.size = 0;
    struct statx st;
    const unsigned mask_wanted = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_ATIME | STATX_BTIME;
    // Follows links, as the listing of a junction shows its target.
    if (::statx(dirfd, name, AT_STATX_SYNC_AS_STAT | AT_NO_AUTOMOUNT, mask_wanted, &st) != 0) {
        // A link that leads nowhere, or an entry gone meanwhile: nothing to open.
        e.attributes = file_attribute_system;
        e.created = e.written = e.accessed = unconvertible_ticks;
        return;
    }
    std::uint32_t attributes = 0;
    if (name[0] == '.' && !is_dot_entry(name)) attributes |= file_attribute_hidden;
    if (S_ISDIR(st.stx_mode))
        attributes |= file_attribute_directory;
    else if (S_ISREG(st.stx_mode))
        e.size = st.stx_size;
    else
        attributes |= file_attribute_system;
    e.attributes = attributes ? attributes : file_attribute_normal;

    // Old files and some file systems have no birth time, or report it as 0.
    const bool has_birth =
        (st.stx_mask & STATX_BTIME) != 0 && (st.stx_btime.tv_sec != 0 || st.stx_btime.tv_nsec != 0);
    e.written = to_filetime_ticks(st.stx_mtime);
    e.accessed = to_filetime_ticks(st.stx_atime);
    e.created = has_birth ? to_filetime_ticks(st.stx_btime) : e.written;
}

struct folder_read_ahead::folder {
    QByteArray path;                // ends in a separator
    std::vector<std::uint32_t> key; // entry numbers from the area down: depth-first order
    int layers = 0;
    enum class phase { queued, reading, listed, done };
    // Guarded by the mutex.
    bool wanted = false; // the walk waits for it
    phase state = phase::queued;
    bool failed = false;
    bool counted = false; // its entries count as held
    // Set once when listed; entry i is the walk's once ready[i] is set.
    folder_names names;
    std::vector<entry_facts> entries;
    std::vector<std::atomic<bool>> ready;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> waiting{false};
    // The entry the walk waits for.
    std::atomic<std::size_t> wake_at{0};
    // The walk has waited long here: the entries it waits for are looked at first.
    std::atomic<bool> hurry{false};

    // Entry i and the batch after it are there: the walk is woken for a batch, not for each
    // entry, as each wake is a switch between threads.
    bool batch_ready(std::size_t i) const {
        const std::size_t end = std::min(i + wake_batch, ready.size());
        for (; i < end; ++i)
            if (!ready[i].load()) return false;
        return true;
    }
};

bool folder_read_ahead::order::operator()(const std::shared_ptr<folder>& a,
                                          const std::shared_ptr<folder>& b) const {
    if (a->wanted != b->wanted) return a->wanted;
    if (a->key != b->key) return a->key < b->key;
    return a.get() < b.get();
}

folder_read_ahead::folder_read_ahead(int threads, int max_layers,
                                     std::chrono::milliseconds hurry_after)
    : threads_(threads), max_layers_(max_layers), hurry_after_(hurry_after) {}

folder_read_ahead::~folder_read_ahead() {
    stop();
}

void folder_read_ahead::start() {
    for (int i = 0; i < threads_; ++i)
        workers_.emplace_back([this] {
            pthread_setname_np(pthread_self(), "read-ahead"); // for profilers and debuggers
            work();
        });
}

std::shared_ptr<folder_read_ahead::folder> folder_read_ahead::open(const QByteArray& path,
                                                                   int layers) {
    std::unique_lock lock(mutex_);
    if (workers_.empty()) start();
    std::shared_ptr<folder> f;
    if (const auto it = known_.find(path); it != known_.end()) {
        f = std::move(it->second);
        known_.erase(it);
        if (f->state == folder::phase::queued) {
            queue_.erase(f);
            f->wanted = true;
            queue_.insert(f);
        }
    } else {
        // Not foreseen: read it before anything else.
        f = std::make_shared<folder>();
        f->path = path;
        f->layers = layers;
        f->wanted = true;
        queue_.insert(f);
    }
    work_ready_.notify_all();
    f->waiting = true;
    progress_.wait(lock, [&] { return f->state >= folder::phase::listed; });
    f->waiting = false;
    if (f->failed) return nullptr;
    return f;
}

const folder_names& folder_read_ahead::names(const folder& f) {
    return f.names;
}

const entry_facts* folder_read_ahead::entry(folder& f, std::size_t i) {
    if (i >= f.entries.size()) return nullptr;
    if (!f.ready[i].load()) {
        std::unique_lock lock(mutex_);
        f.wake_at = i;
        f.waiting = true;
        const auto there = [&] { return f.ready[i].load() || f.state == folder::phase::done; };
        if (!progress_.wait_for(lock, hurry_after_, there)) {
            f.hurry = true;
            progress_.wait(lock, there);
        }
        f.waiting = false;
        if (!f.ready[i].load()) return nullptr;
    }
    f.names.prefetch(i + 8, i + 4);
    __builtin_prefetch(&f.entries[std::min(i + 4, f.entries.size() - 1)]);
    return &f.entries[i];
}

void folder_read_ahead::forget(const std::shared_ptr<folder>& f) {
    f->cancelled = true;
    if (f->counted) held_ -= f->entries.size();
    f->counted = false;
}

void folder_read_ahead::drop_below(const QByteArray& path) {
    for (auto it = known_.lower_bound(path); it != known_.end() && it->first.startsWith(path);) {
        queue_.erase(it->second);
        forget(it->second);
        it = known_.erase(it);
    }
}

void folder_read_ahead::close(const std::shared_ptr<folder>& f) {
    {
        const std::lock_guard lock(mutex_);
        forget(f);
        drop_below(f->path);
    }
    work_ready_.notify_all();
}

void folder_read_ahead::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& [path, f] : known_) forget(f);
        known_.clear();
        queue_.clear();
    }
    work_ready_.notify_all();
    for (auto& t : workers_) t.join();
    workers_.clear();
    const std::lock_guard lock(mutex_);
    stopping_ = false;
    held_ = 0;
}

void folder_read_ahead::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [&] {
            return stopping_ ||
                   (!queue_.empty() && ((*queue_.begin())->wanted || held_ < held_limit));
        });
        if (stopping_) return;
        const std::shared_ptr<folder> f = *queue_.begin();
        queue_.erase(queue_.begin());
        f->state = folder::phase::reading;
        lock.unlock();
        read(f);
        lock.lock();
    }
}

void folder_read_ahead::read(const std::shared_ptr<folder>& f) {
    const int fd = ::open(f->path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0) ::close(fd);
        const std::lock_guard lock(mutex_);
        f->failed = true;
        f->state = folder::phase::done;
        progress_.notify_all();
        return;
    }
    folder_names names = folder_names::read(dir, {});
    std::vector<entry_facts> entries(names.size());
    std::vector<std::atomic<bool>> ready(names.size());
    {
        const std::lock_guard lock(mutex_);
        if (f->cancelled || stopping_) {
            ::closedir(dir);
            return;
        }
        f->names = std::move(names);
        f->entries = std::move(entries);
        f->ready = std::move(ready);
        held_ += f->entries.size();
        f->counted = true;
        f->state = folder::phase::listed;
        progress_.notify_all();
    }

    const bool read_below = f->layers <= max_layers_;
    const auto look = [&](std::size_t i) {
        entry_facts& e = f->entries[i];
        look_at_entry(::dirfd(dir), f->names.bytes(i), e);
        // Only what the walk would enter; hidden and system folders it passes by.
        if (read_below && e.attributes == file_attribute_directory && !f->names.is_dot(i)) {
            auto below = std::make_shared<folder>();
            below->path = f->path + f->names.bytes(i) + '/';
            below->key = f->key;
            below->key.push_back(static_cast<std::uint32_t>(i));
            below->layers = f->layers + 1;
            const std::lock_guard lock(mutex_);
            if (!f->cancelled && !stopping_ && known_.emplace(below->path, below).second) {
                queue_.insert(below);
                work_ready_.notify_one();
            }
        }
        f->ready[i].store(true);
        if (f->waiting.load() && f->batch_ready(f->wake_at.load())) {
            { const std::lock_guard lock(mutex_); }
            progress_.notify_all();
        }
    };
    // Looked at in the order the file system lists them, as other tools do: the kernel's
    // records of a folder's entries then tend to lie in that order, and reading them so is
    // faster than in name order.
    for (const std::uint32_t i : f->names.listing_order()) {
        // Stopped, or the walk has left the folder: nothing more is looked at.
        if (f->cancelled.load(std::memory_order_relaxed) ||
            stopping_.load(std::memory_order_relaxed))
            break;
        // On a slow disk the walk, and the window with it, would wait for the rest of the
        // folder: the entries it waits for come first.
        if (f->hurry.load() && f->waiting.load()) {
            const std::size_t from = f->wake_at.load();
            for (std::size_t w = from; w < std::min(from + wake_batch, f->entries.size()); ++w)
                if (!f->ready[w].load()) look(w);
        }
        if (!f->ready[i].load()) look(i);
    }
    ::closedir(dir);
    const std::lock_guard lock(mutex_);
    f->state = folder::phase::done;
    progress_.notify_all();
}
