#pragma once
// The small progress window long operations show: a message line, a picture and a stop
// button that only raises a flag the operation polls.
#include "app/shell/operation_feedback.h"

#include <QWidget>

#include <cstdint>

class QLabel;
class QPushButton;

class w_wait_for3 : public QWidget, public operation_feedback {
    Q_OBJECT
  public:
    explicit w_wait_for3(QWidget* parent = nullptr);

    // Shows the window without waiting for it; every opening starts with ib_stop false.
    void open_window();
    void close_window();

    void of_setmessage(const QString& message) override;
    bool ib_stop() const override { return ib_stop_; }
    // What the stop button does, for the program itself (the main window closing under a
    // running operation).
    void request_stop() { ib_stop_ = true; }
    // Lets the user interface run, but at most every few milliseconds, so hot loops that
    // call this at every checkpoint are not slowed by event polling.
    void process_events() override;
    void process_events_now();

    QLabel* st_note() const { return st_note_; }
    QPushButton* cb_stop() const { return cb_stop_; }

  private:
    QLabel* st_note_;
    QPushButton* cb_stop_;
    QLabel* p_1_;
    bool ib_stop_ = false;
    std::int64_t next_events_ms_ = 0; // on checkpoint_clock_ms()
};
