#include "app/w_main.h"

w_main::w_main(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("青石坊文件搜索器"));
    resize(1200, 760);
}
