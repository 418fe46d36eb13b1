#include "app/main/main_layout.h"

#include "app/shell/layout_units.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The window laid out in pixels at `client` as the main window lays itself out, with a font
// a quarter wider than the design's in the bottom row.
struct layout {
    QHash<QString, QRect> at;
    packed_row bottom;
    int minimum_width = 0;
};

layout lay_out(QSize client) {
    control_places places = design_places();
    fit_places(places, client, client.width());
    layout out;
    places[u"dw_2 shown"_s] = picture_panel_shown(places[u"dw_2"_s], px_to_units_x(client.width()));
    for (auto it = places.cbegin(); it != places.cend(); ++it)
        out.at[it.key()] = units_to_px(it->x(), it->y(), it->width(), it->height());
    std::vector<row_control> needs;
    for (const char16_t* name : bottom_row_names) {
        const int design = out.at[QString::fromUtf16(name)].width();
        needs.push_back({design * 5 / 4, design});
    }
    const int left = out.at[u"cb_scandisk"_s].x();
    out.bottom = pack_row(needs, left, client.width(), false);
    out.minimum_width = pack_row(needs, left, 0, true).end;
    for (std::size_t i = 0; i < needs.size(); ++i) {
        QRect& r = out.at[QString::fromUtf16(bottom_row_names[i])];
        r.moveLeft(out.bottom.spans[i].x);
        r.setWidth(out.bottom.spans[i].width);
        EXPECT_GE(r.width(), needs[i].least) << "a caption cut at " << client.width();
    }
    out.at[u"ddlb_1"_s] = fit_condition_box(out.at[u"ddlb_1"_s], out.at[u"cb_query"_s].left(), 24);
    out.at[u"folder_line"_s] = folder_line_rect(client);
    return out;
}

// Left to right without overlap, and inside [0, width).
void expect_in_order(const layout& l, const QStringList& names, int width) {
    EXPECT_GE(l.at[names.first()].left(), 0) << names.first().toStdString();
    for (qsizetype i = 1; i < names.size(); ++i)
        EXPECT_LT(l.at[names[i - 1]].right(), l.at[names[i]].left())
            << names[i - 1].toStdString() << " " << names[i].toStdString() << " at " << width;
    EXPECT_LT(l.at[names.last()].right(), width) << names.last().toStdString() << " at " << width;
}

TEST(main_layout, at_every_size_controls_keep_their_order_and_stay_apart_inside_the_window) {
    const int least_height = minimum_client_height(22);
    const int least_width = lay_out({1000, 600}).minimum_width;
    QStringList bottom;
    for (const char16_t* name : bottom_row_names) bottom << QString::fromUtf16(name);
    for (const QSize client : {QSize(least_width, least_height), QSize(least_width + 37, 627),
                               QSize(1600, 1000), QSize(2400, least_height)}) {
        SCOPED_TRACE(client.width());
        const layout l = lay_out(client);
        EXPECT_EQ(l.minimum_width, least_width);
        expect_in_order(l, {u"ddlb_1"_s, u"cb_query"_s, u"cb_clear"_s, u"cb_fileext"_s},
                        client.width());
        expect_in_order(l, bottom, client.width());
        EXPECT_LE(l.bottom.end, client.width() + 4);

        // Top to bottom: the band with the condition row, the list, the bottom row, the
        // folder line, and nothing below the client area.
        const QRect band = l.at[u"p_1"_s], list = l.at[u"dw_1"_s];
        for (const QString& top : {u"ddlb_1"_s, u"cb_query"_s, u"cb_clear"_s, u"cb_fileext"_s})
            EXPECT_TRUE(band.contains(l.at[top])) << top.toStdString();
        EXPECT_GE(list.top(), band.bottom());
        EXPECT_EQ(list.width(), client.width());
        for (const QString& name : bottom) {
            EXPECT_LT(list.bottom(), l.at[name].top()) << name.toStdString();
            EXPECT_LT(l.at[name].bottom(), l.at[u"folder_line"_s].top()) << name.toStdString();
        }
        EXPECT_LT(l.at[u"folder_line"_s].bottom(), client.height());
        EXPECT_LT(l.at[u"folder_line"_s].right(), client.width());

        // The picture panel: parked beyond the right edge, or over the list's right part.
        EXPECT_GE(l.at[u"dw_2"_s].left(), client.width());
        EXPECT_GT(l.at[u"dw_2 shown"_s].left(), client.width() / 3);
        EXPECT_LT(l.at[u"dw_2 shown"_s].right(), client.width());
        EXPECT_EQ(l.at[u"dw_2 shown"_s].height(), list.height());
    }
}

} // namespace
