#pragma once
// Work that reads a record storage on other threads while the window is already in use:
// the pinyin key of a freshly loaded catalogue, the snapshot of a freshly parsed catalogue
// file. Each job holds the storage it reads, so a storage replaced meanwhile stays alive
// for it; one changed in place must first finish() its jobs, which asks them to stop early
// and waits for them. Destruction finishes too.
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class background_readers {
  public:
    using job = std::function<void(const std::atomic<bool>& stop)>;

    background_readers() = default;
    background_readers(const background_readers&) = delete;
    background_readers& operator=(const background_readers&) = delete;
    ~background_readers() { finish(); }

    void start(job j);
    // Asks every job to stop, waits for all of them; the next start() runs normally.
    void finish() { join(true); }
    // Waits for every job to complete its work.
    void wait() { join(false); }
    bool busy() const { return !threads_.empty(); }

  private:
    void join(bool stop_early);
    std::vector<std::thread> threads_;
    std::atomic<bool> stop_{false};
};
