#pragma once
// Where the main window's controls go, in layout units: the design positions, and the
// rule that moves them when the window is resized.
#include <QHash>
#include <QRect>
#include <QString>

using control_places = QHash<QString, QRect>;

// Positions of every control at the design size.
control_places design_places();

// Applies the resize rule for a new client size to `places` (changed in place).
// `window_width` is the window's own width, where the picture panel is parked.
void apply_resize_rule(control_places& places, int newwidth, int newheight, int window_width);

// The picture panel over the right part of the list while picture mode is on.
QRect picture_panel_shown(const QRect& current, int window_width);
