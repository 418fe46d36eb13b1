#include "app/quellmarkapp.h"
#include "app/w_main.h"

#include <QApplication>

int quellmarkapp::run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellmarkapp"));
    w_main window;
    window.showMaximized();
    return QApplication::exec();
}
