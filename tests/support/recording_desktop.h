#pragma once
// Records the folders and files handed to the desktop instead of starting programs.
#include "retrieval/ui/desktop_opener.h"

#include <QStringList>

class recording_desktop final : public desktop_opener {
  public:
    recording_desktop() { set_desktop(this); }
    ~recording_desktop() override { set_desktop(nullptr); }
    recording_desktop(const recording_desktop&) = delete;
    recording_desktop& operator=(const recording_desktop&) = delete;

    bool open_folder(const QString& folder) override {
        folders << folder;
        return accept;
    }
    bool open_file(const QString& file) override {
        files << file;
        return accept;
    }
    QStringList folders;
    QStringList files;
    // What the desktop answers: false as when no program takes the file.
    bool accept = true;
};
