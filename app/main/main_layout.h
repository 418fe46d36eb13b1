#pragma once
// Where the main window's controls go, in layout units: the design positions, and the
// rule that moves them when the window is resized; then the few rules in pixels that the
// units cannot give (widths that depend on the font, the folder line). No widgets here.
#include <QHash>
#include <QRect>
#include <QString>

#include <span>
#include <vector>

using control_places = QHash<QString, QRect>;

// Positions of every control at the design size.
control_places design_places();

// Applies the resize rule for a new client size to `places` (changed in place).
// `window_width` is the window's own width, where the picture panel is parked.
void apply_resize_rule(control_places& places, int newwidth, int newheight, int window_width);

// The picture panel over the right part of the list while picture mode is on.
QRect picture_panel_shown(const QRect& current, int window_width);

// The rest in pixels, from a client area's size.

// The strip along the bottom that holds the folder line.
inline constexpr int folder_line_px = 16;

// Applies the resize rule for a client area of `client` pixels (the folder line's strip
// left out) in a window `window_width` pixels wide.
void fit_places(control_places& places, QSize client, int window_width);

// The bottom row, left to right.
inline constexpr const char16_t* bottom_row_names[] = {
    u"cb_scandisk", u"st_scaned_qty",   u"st_query_note", u"cb_clear_downpath", u"cb_dowpath",
    u"st_down_qty", u"cb_open_custdir", u"cb_selectdir",  u"rb_default",        u"rb_baofeng"};

// A control of the bottom row: the width its texts need, and the width the design gives it.
struct row_control {
    int least;
    int design;
};
struct row_span {
    int x;
    int width;
};

// Packs the bottom row left to right from `left` in the design's order, every control at
// least its `least` width. Spare room up to `right` goes to the controls in turn, each up to
// its design width. With `at_minimum` every control gets its least width. `end` is where a
// control after the row would start: at its minimum, the least width of the window.
struct packed_row {
    std::vector<row_span> spans;
    int end = 0;
};
packed_row pack_row(std::span<const row_control> controls, int left, int right, bool at_minimum);

// The condition box would reach under the query button by the resize rule: it stops short,
// and is at least `least_height` high.
QRect fit_condition_box(QRect box, int query_left, int least_height);

// The folder line, along the bottom of a client area of `client` pixels.
QRect folder_line_rect(QSize client);

// The least client height: both bands, the bottom row and six rows of the list.
int minimum_client_height(int list_row_height);
