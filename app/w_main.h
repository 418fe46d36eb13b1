#pragma once
#include <QMainWindow>

// The program's one main window.
class w_main : public QMainWindow {
    Q_OBJECT
public:
    explicit w_main(QWidget* parent = nullptr);
};
