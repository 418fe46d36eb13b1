#include "app/main/scan_dialogs.h"

#include "catalogue/ui/w_disk_area.h"
#include "catalogue/ui/w_file_type.h"

void scan_dialogs::disk_area(QWidget* parent) {
    w_disk_area dialog(parent);
    dialog.exec();
}

int scan_dialogs::file_type(QWidget* parent) {
    w_file_type dialog(parent);
    dialog.exec();
    return dialog.answer();
}

namespace {
scan_dialogs real_dialogs;
scan_dialogs* current = &real_dialogs;
} // namespace

scan_dialogs& the_scan_dialogs() {
    return *current;
}
void set_scan_dialogs(scan_dialogs* replacement) {
    current = replacement ? replacement : &real_dialogs;
}
