#include "catalogue/core/background_readers.h"

void background_readers::start(job j) {
    threads_.emplace_back([this, j = std::move(j)] { j(stop_); });
}

void background_readers::join(bool stop_early) {
    if (threads_.empty()) return;
    stop_ = stop_early;
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    stop_ = false;
}
