#pragma once
// Folders listed and their entries looked at ahead of the scanner's walk, on worker threads.
//
// The walk asks for one folder at a time and takes its entries in the listing's order; the
// workers list the folders it will enter next, in the walk's own depth-first order, and
// look at each entry (statx) before the walk reaches it. The walk never sees an entry before
// its facts are complete. At most `held_limit` entries wait unread, so a large disk costs
// bounded memory. stop() ends all work and joins every worker; nothing runs after it.
#include "catalogue/core/folder_names.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// What one look at a folder entry tells, links followed.
struct entry_facts {
    std::uint32_t attributes = 0; // file_attribute_* of n_filetouch.h
    std::uint64_t size = 0;
    std::uint64_t created = 0, written = 0, accessed = 0; // file time ticks
};

// Looks at `name` in the folder open as `dirfd`; an entry that leads nowhere or is gone
// becomes a system entry with unconvertible times.
void look_at_entry(int dirfd, const char* name, entry_facts& e);

class folder_read_ahead {
  public:
    // A folder on its way to the walk.
    struct folder;
    // Entries held ready beyond which the workers wait for the walk.
    static constexpr std::size_t held_limit = 1 << 15;

    // `threads` workers; folders of `max_layers` or less have their subfolders read ahead.
    // Entries are looked at in the file system's order, but once the walk has waited
    // `hurry_after` in a folder, those it waits for go first.
    folder_read_ahead(int threads, int max_layers,
                      std::chrono::milliseconds hurry_after = std::chrono::milliseconds(20));
    ~folder_read_ahead();
    folder_read_ahead(const folder_read_ahead&) = delete;
    folder_read_ahead& operator=(const folder_read_ahead&) = delete;

    // The folder `path` (native, ending in a separator) at depth `layers`, read ahead or
    // read now. Null when it cannot be listed.
    std::shared_ptr<folder> open(const QByteArray& path, int layers);
    // The names of `f`, in the order of its entries.
    static const folder_names& names(const folder& f);
    // Entry `i` of `f`, once its facts are there; null past the end. Valid until close(f).
    const entry_facts* entry(folder& f, std::size_t i);
    // The walk is done with `f` and with every folder below it.
    void close(const std::shared_ptr<folder>& f);
    // Ends all work and joins the workers; open() starts them again.
    void stop();

  private:
    struct order {
        bool operator()(const std::shared_ptr<folder>& a, const std::shared_ptr<folder>& b) const;
    };
    void start();
    void work();
    void read(const std::shared_ptr<folder>& f);
    void drop_below(const QByteArray& path);
    void forget(const std::shared_ptr<folder>& f);

    const int threads_, max_layers_;
    const std::chrono::milliseconds hurry_after_;
    std::mutex mutex_;
    std::condition_variable work_ready_, progress_;
    std::map<QByteArray, std::shared_ptr<folder>> known_; // by path: queued, read or reading
    std::set<std::shared_ptr<folder>, order> queue_;      // not yet begun, most wanted first
    std::size_t held_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> workers_;
};
