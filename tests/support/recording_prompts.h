#pragma once
// Answers the program's message boxes and choosers without showing them, and records them.
#include "app/shell/user_prompts.h"

#include <QStringList>

class recording_prompts : public user_prompts {
  public:
    recording_prompts() { set_prompts(this); }
    ~recording_prompts() override { set_prompts(nullptr); }

    void message(QWidget*, const QString& title, const QString& text) override {
        messages << title + QStringLiteral(" | ") + text;
    }
    QString choose_folder(QWidget*, const QString& caption, const QString& start,
                          const QStringList& side_bar) override {
        choosers << caption;
        chooser_starts << start;
        chooser_side_bar = side_bar;
        return next_folder;
    }

    QStringList messages;
    QStringList choosers;
    QStringList chooser_starts;
    QStringList chooser_side_bar; // the last chooser's
    QString next_folder;
};
