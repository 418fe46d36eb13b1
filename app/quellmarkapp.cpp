#include "app/quellmarkapp.h"
#include "app/w_main.h"

#include <QApplication>

int quellmarkapp::run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellmarkapp"));
    w_main window;
    window.showMaximized();
    window.open_event();
    return QApplication::exec();
}
