#include "app/shell/user_prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSplitter>
#include <QUrl>
#include <algorithm>

void user_prompts::message(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    // Above every window of the program, the always-on-top wait window included, so its
    // OK button can always be reached.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

QString user_prompts::choose_folder(QWidget* parent, const QString& caption, const QString& start,
                                    const QStringList& side_bar) {
    // Qt's own chooser: a desktop's would not show this side bar.
    QFileDialog chooser(parent, caption, start);
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    if (!side_bar.isEmpty()) {
        QList<QUrl> places;
        for (const QString& folder : side_bar) places << QUrl::fromLocalFile(folder);
        chooser.setSidebarUrls(places);
        // Wide enough for the cards' names, which tell one card from another.
        if (auto* split = chooser.findChild<QSplitter*>()) {
            int widest = 0;
            for (const QString& folder : side_bar)
                widest = std::max(widest,
                                  chooser.fontMetrics().horizontalAdvance(QDir(folder).dirName()));
            const int total = std::max(split->width(), 600);
            const int side = std::min(widest + 48, total / 3);
            split->setSizes({side, total - side});
        }
    }
    if (chooser.exec() != QDialog::Accepted) return {};
    return chooser.selectedFiles().value(0);
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
