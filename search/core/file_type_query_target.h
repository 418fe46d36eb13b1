#pragma once
// What the file type query window needs of the main window.
#include "catalogue/core/record_set.h"

#include <QString>

class file_type_query_target {
  public:
    virtual ~file_type_query_target() = default;
    virtual bool main_window_open() const = 0;
    // The in-memory catalogue whose records of unticked types are set aside.
    virtual record_set& catalogue() = 0;
    // Empties the result list.
    virtual void reset_result_list() = 0;
    // Shows the catalogue's record count text, e.g. "12个".
    virtual void set_scaned_qty(const QString& text) = 0;
};
