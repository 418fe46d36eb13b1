#include "tests/support/modal_answer.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace {

void try_answer(std::function<void(QWidget*)> act, int tries_left) {
    QTimer::singleShot(10, [act = std::move(act), tries_left]() mutable {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            act(modal);
        } else if (tries_left > 0) {
            try_answer(std::move(act), tries_left - 1);
        }
    });
}

} // namespace

void answer_next_modal(std::function<void(QWidget*)> act) {
    try_answer(std::move(act), 500);
}
