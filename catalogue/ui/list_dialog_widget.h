#pragma once
// Parts shared by the windows that edit a list file: their buttons and their grid.
#include <QSize>
#include <QStringList>

class QDialog;
class QPushButton;
class QTableWidget;
class QWidget;

// A button that Enter never presses: Enter belongs to the grid's editor, and must not confirm
// or cancel anything by itself.
QPushButton* list_dialog_button(const QString& text, const QString& name, QWidget* parent);

// The grid "dw_1" with two columns under `headings`, no row numbers, one whole row selected
// at a time. Column sizes and editors are the window's own.
QTableWidget* list_dialog_grid(const QStringList& headings, QWidget* parent);

// Sizes a modal dialog for good: `wanted`, or more where its controls need more. A dialog
// left resizable gets a resize handle from the window manager along its bottom edge, a thin
// strip that reads as a control cut off there.
void fix_dialog_size(QDialog* dialog, QSize wanted);
