#pragma once
// Hands a folder to the file manager or a file to the program the desktop associates with its
// type. Behind one seam so tests record the request instead of starting programs; the path
// travels as a URL, never through a shell.
#include <QString>

class desktop_opener {
  public:
    virtual ~desktop_opener() = default;
    // False when the desktop refused the request.
    virtual bool open_folder(const QString& folder);
    virtual bool open_file(const QString& file);
};

// The opener in use; tests install their own.
desktop_opener& desktop();
void set_desktop(desktop_opener* replacement); // nullptr restores the real one
