#include "retrieval/ui/desktop_opener.h"

#include "catalogue/core/native_names.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
desktop_opener real_opener;
desktop_opener* current = &real_opener;

bool open_local(const QString& path) {
    // An empty text would become an empty URL, which some desktops read as "home".
    if (path.isEmpty()) return false;
    return QDesktopServices::openUrl(native_file_url(path));
}
} // namespace

bool desktop_opener::open_folder(const QString& folder) {
    return open_local(folder);
}

bool desktop_opener::open_file(const QString& file) {
    return open_local(file);
}

desktop_opener& desktop() {
    return *current;
}

void set_desktop(desktop_opener* replacement) {
    current = replacement ? replacement : &real_opener;
}
