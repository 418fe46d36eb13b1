#include "app/main/main_layout.h"

#include "app/shell/layout_units.h"

#include <algorithm>
#include <cmath>

control_places design_places() {
    return {
        {QStringLiteral("st_down_qty"), {2592, 2284, 270, 88}},
        {QStringLiteral("cb_open_custdir"), {2885, 2284, 539, 88}},
        {QStringLiteral("cb_selectdir"), {3438, 2284, 425, 88}},
        {QStringLiteral("st_query_note"), {754, 2284, 795, 88}},
        {QStringLiteral("cb_fileext"), {3643, 44, 302, 100}},
        {QStringLiteral("st_scaned_qty"), {384, 2284, 343, 88}},
        {QStringLiteral("dw_2"), {4059, 180, 55, 2068}},
        {QStringLiteral("rb_baofeng"), {4210, 2292, 434, 72}},
        {QStringLiteral("rb_default"), {3899, 2292, 293, 72}},
        {QStringLiteral("cb_clear"), {3323, 44, 302, 100}},
        {QStringLiteral("cb_query"), {2999, 40, 302, 104}},
        {QStringLiteral("cb_dowpath"), {2071, 2284, 498, 88}},
        {QStringLiteral("cb_clear_downpath"), {1573, 2284, 485, 88}},
        {QStringLiteral("cb_scandisk"), {41, 2284, 329, 88}},
        {QStringLiteral("ddlb_1"), {64, 36, 2633, 104}},
        {QStringLiteral("p_1"), {0, 0, 4064, 180}},
        {QStringLiteral("p_2"), {0, 2248, 4064, 156}},
        {QStringLiteral("dw_1"), {0, 180, 4064, 2068}},
    };
}

void apply_resize_rule(control_places& p, int newwidth, int newheight, int window_width) {
    auto set_x = [&](const char16_t* name, int x) { p[QString::fromUtf16(name)].moveLeft(x); };
    auto set_y = [&](const char16_t* name, int y) { p[QString::fromUtf16(name)].moveTop(y); };
    auto set_w = [&](const char16_t* name, int w) { p[QString::fromUtf16(name)].setWidth(w); };

    set_w(u"p_1", newwidth);
    set_w(u"p_2", newwidth);
    QRect& dw_1 = p[QStringLiteral("dw_1")];
    dw_1.setSize({newwidth, newheight - 120 - dw_1.y()});
    set_x(u"dw_2", window_width);
    p[QStringLiteral("dw_2")].setHeight(dw_1.height());
    set_y(u"p_2", newheight - 130);
    const int bottom = newheight - 110;
    for (const char16_t* name :
         {u"cb_scandisk", u"st_scaned_qty", u"st_query_note", u"cb_clear_downpath", u"cb_dowpath",
          u"cb_selectdir", u"cb_open_custdir", u"st_down_qty"})
        set_y(name, bottom);
    set_y(u"rb_default", bottom + 5);
    set_y(u"rb_baofeng", bottom + 5);
    set_w(u"ddlb_1", newwidth - 1010);
    set_x(u"cb_query", newwidth - 990);
    set_x(u"cb_clear", newwidth - 670);
    set_x(u"cb_fileext", newwidth - 350);
}

QRect picture_panel_shown(const QRect& current, int window_width) {
    QRect r = current;
    r.moveLeft(static_cast<int>(std::trunc(window_width * 4.0 / 10.0 + 40)));
    r.setWidth(static_cast<int>(std::trunc(window_width * 6.0 / 10.0 - 90)));
    return r;
}

void fit_places(control_places& places, QSize client, int window_width) {
    apply_resize_rule(places, px_to_units_x(client.width()),
                      px_to_units_y(client.height() - folder_line_px), px_to_units_x(window_width));
}

// Every caption stays whole (this font is wider than the design's). In a narrow window the
// design's spare widths give way first.
packed_row pack_row(std::span<const row_control> controls, int left, int right, bool at_minimum) {
    constexpr int gap = 4;
    int spare = right - left;
    for (const row_control& c : controls) spare -= c.least + gap;
    packed_row row;
    int x = left;
    for (const row_control& c : controls) {
        const int design = std::max(c.design, c.least);
        const int wide =
            at_minimum ? c.least : c.least + std::clamp(design - c.least, 0, std::max(spare, 0));
        spare -= wide - c.least;
        row.spans.push_back({x, wide});
        x += wide + gap;
    }
    row.end = x;
    return row;
}

QRect fit_condition_box(QRect box, int query_left, int least_height) {
    const int limit = query_left - 8;
    if (box.right() > limit) box.setRight(limit);
    box.setHeight(std::max(box.height(), least_height));
    return box;
}

QRect folder_line_rect(QSize client) {
    return {units_to_px_x(41), client.height() - folder_line_px - 1,
            client.width() - 2 * units_to_px_x(41), folder_line_px};
}

int minimum_client_height(int list_row_height) {
    return units_to_px_y(180 + 120) + 6 * list_row_height;
}
