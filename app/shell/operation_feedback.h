#pragma once
// How a long operation (scan, load, copy) talks to the window that shows its progress:
// a message line, the user's stop request, and a chance for the user interface to run.
#include <QString>

#include <cstdint>
#include <ctime>

class operation_feedback {
  public:
    virtual ~operation_feedback() = default;
    // Replaces the progress line.
    virtual void of_setmessage(const QString& message) = 0;
    // True once the user pressed stop; never goes back to false during one operation.
    virtual bool ib_stop() const = 0;
    // Called at every checkpoint; the window side decides how often it really pumps events.
    virtual void process_events() = 0;
};

// Milliseconds on the kernel's tick clock, a few milliseconds coarse, for deciding at a
// checkpoint whether events are due: a scan checks at every entry, and the precise clock
// costs several times more per read.
inline std::int64_t checkpoint_clock_ms() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return std::int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1'000'000;
}

// For callers with no window: no messages, never stopped.
class silent_feedback final : public operation_feedback {
  public:
    void of_setmessage(const QString&) override {}
    bool ib_stop() const override { return false; }
    void process_events() override {}
};
