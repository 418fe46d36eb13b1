#include "app/user_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

void user_prompts::message(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    // Above every window of the program, the always-on-top wait window included, so its
    // OK button can always be reached.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

QString user_prompts::choose_folder(QWidget* parent, const QString& caption) {
    return QFileDialog::getExistingDirectory(parent, caption);
}

namespace {
user_prompts real_prompts;
user_prompts* current = &real_prompts;
} // namespace

user_prompts& prompts() {
    return *current;
}
void set_prompts(user_prompts* replacement) {
    current = replacement ? replacement : &real_prompts;
}
