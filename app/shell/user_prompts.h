#pragma once
// Message boxes and choosers the program shows, behind one seam so tests can answer them.
#include <QString>
#include <QStringList>

class QWidget;

class user_prompts {
  public:
    virtual ~user_prompts() = default;
    // A modal message box with an OK button.
    virtual void message(QWidget* parent, const QString& title, const QString& text);
    // A folder chooser opening at `start` (the current directory when empty), with the
    // folders of `side_bar` in its side bar when there are any; empty when the user cancels.
    virtual QString choose_folder(QWidget* parent, const QString& caption,
                                  const QString& start = {}, const QStringList& side_bar = {});
};

// The prompts in use; tests install their own.
user_prompts& prompts();
void set_prompts(user_prompts* replacement); // nullptr restores the real ones
