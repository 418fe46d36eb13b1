#pragma once
// The two dialogs every scan opens first, behind a seam so tests can answer them.
class QWidget;

class scan_dialogs {
  public:
    virtual ~scan_dialogs() = default;
    // The scan-areas dialog; closing it hands the areas and scan settings to the globals.
    virtual void disk_area(QWidget* parent);
    // The file-types dialog: 1 to go on, -1 (or 0, closed by its frame) to cancel.
    virtual int file_type(QWidget* parent);
};

scan_dialogs& the_scan_dialogs();
void set_scan_dialogs(scan_dialogs* replacement); // nullptr restores the real ones
