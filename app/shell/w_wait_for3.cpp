#include "app/shell/w_wait_for3.h"

#include "app/shell/application_icon.h"
#include "app/shell/layout_units.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {
constexpr std::int64_t events_interval_ms = 30;

QFont gb_font(const QString& family, int points) {
    QFont f(family, points);
    f.setFamilies({family, QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                   QStringLiteral("Noto Sans CJK SC")});
    return f;
}
} // namespace

w_wait_for3::w_wait_for3(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("w_wait_for3"));
    // The keyboard stays with the main window: keys typed while an operation runs go to
    // the condition box, not to this window.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowIcon(application_icon());
    setFixedSize(units_to_px_x(1947), units_to_px_y(356));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(255, 0, 0));
    setPalette(pal);

    st_note_ = new QLabel(this);
    st_note_->setObjectName(QStringLiteral("st_note"));
    st_note_->setGeometry(units_to_px(14, 12, 1659, 72));
    st_note_->setFont(gb_font(QStringLiteral("宋体"), 10));
    st_note_->setFrameShape(QFrame::Box);
    st_note_->setAutoFillBackground(true);
    st_note_->setStyleSheet(QStringLiteral(
        "QLabel { color: rgb(255,0,0); background: white; border: 1px solid black; }"));
    st_note_->setTextFormat(Qt::PlainText);

    cb_stop_ = new QPushButton(QStringLiteral("停止"), this);
    cb_stop_->setObjectName(QStringLiteral("cb_stop"));
    cb_stop_->setGeometry(units_to_px(1682, 12, 251, 72));
    cb_stop_->setFont(gb_font(QStringLiteral("黑体"), 10));
    cb_stop_->setFlat(true);
    cb_stop_->setAutoFillBackground(true);
    connect(cb_stop_, &QPushButton::clicked, this, [this] { ib_stop_ = true; });

    p_1_ = new QLabel(this);
    p_1_->setObjectName(QStringLiteral("p_1"));
    p_1_->setGeometry(units_to_px(14, 96, 1920, 248));
    p_1_->setFrameShape(QFrame::Box);
    p_1_->setPixmap(QPixmap(QStringLiteral(":/pictures/8.jpg")));
    p_1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    p_1_->raise();
}

void w_wait_for3::open_window() {
    ib_stop_ = false;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    show();
    raise();
    process_events_now();
}

void w_wait_for3::close_window() {
    hide();
}

void w_wait_for3::of_setmessage(const QString& message) {
    st_note_->setText(message);
}

void w_wait_for3::process_events() {
    if (checkpoint_clock_ms() < next_events_ms_) return;
    process_events_now();
}

void w_wait_for3::process_events_now() {
    QCoreApplication::processEvents();
    next_events_ms_ = checkpoint_clock_ms() + events_interval_ms;
}
