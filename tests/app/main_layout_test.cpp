#include "app/main/main_layout.h"

#include "app/shell/layout_units.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The window laid out in pixels as the main window lays itself out, with a bottom row whose
// captions need in turn a quarter less and a quarter more than the design gives them.
QHash<QString, QRect> lay_out(QSize client, int* least_width = nullptr, int* end = nullptr) {
    control_places places = design_places();
    fit_places(places, client, client.width());
    places[u"dw_2 shown"_s] = picture_panel_shown(places[u"dw_2"_s], px_to_units_x(client.width()));
    QHash<QString, QRect> at;
    for (auto it = places.cbegin(); it != places.cend(); ++it)
        at[it.key()] = units_to_px(it->x(), it->y(), it->width(), it->height());
    std::vector<row_control> needs;
    for (const char16_t* name : bottom_row_names) {
        const int design = at[QString::fromUtf16(name)].width();
        needs.push_back({design * (needs.size() % 2 ? 5 : 3) / 4, design});
    }
    const packed_row row = pack_row(needs, at[u"cb_scandisk"_s].x(), client.width(), false);
    for (std::size_t i = 0; i < needs.size(); ++i) {
        QRect& r = at[QString::fromUtf16(bottom_row_names[i])];
        r.setRect(row.spans[i].x, r.y(), row.spans[i].width, r.height());
    }
    if (least_width) *least_width = pack_row(needs, at[u"cb_scandisk"_s].x(), 0, true).end;
    if (end) *end = row.end;
    at[u"ddlb_1"_s] = fit_condition_box(at[u"ddlb_1"_s], at[u"cb_query"_s].left(), 24);
    at[u"folder_line"_s] = folder_line_rect(client);
    return at;
}

TEST(main_layout, at_every_size_controls_keep_their_order_and_stay_apart_inside_the_window) {
    int least_width = 0, end = 0;
    lay_out({1000, 600}, &least_width);
    const int least_height = minimum_client_height(22);
    QStringList bottom;
    for (const char16_t* name : bottom_row_names) bottom << QString::fromUtf16(name);
    const QStringList top{u"ddlb_1"_s, u"cb_query"_s, u"cb_clear"_s, u"cb_fileext"_s};
    for (const QSize client : {QSize(least_width, least_height), QSize(least_width + 37, 627),
                               QSize(1600, 1000), QSize(2400, least_height)}) {
        SCOPED_TRACE(client.width());
        const QHash<QString, QRect> at = lay_out(client, nullptr, &end);
        EXPECT_LE(end, client.width() + 4);
        // Left to right without overlap inside the width; top to bottom: the band with the
        // condition row, the list, the bottom row, the folder line.
        for (const QStringList& row : {top, bottom}) {
            EXPECT_GE(at[row.first()].left(), 0);
            for (qsizetype i = 1; i < row.size(); ++i)
                EXPECT_LT(at[row[i - 1]].right(), at[row[i]].left()) << row[i].toStdString();
            EXPECT_LT(at[row.last()].right(), client.width());
        }
        for (const QString& name : top) EXPECT_TRUE(at[u"p_1"_s].contains(at[name]));
        EXPECT_GE(at[u"dw_1"_s].top(), at[u"p_1"_s].bottom());
        EXPECT_EQ(at[u"dw_1"_s].width(), client.width());
        for (const QString& name : bottom) {
            EXPECT_LT(at[u"dw_1"_s].bottom(), at[name].top()) << name.toStdString();
            EXPECT_LT(at[name].bottom(), at[u"folder_line"_s].top()) << name.toStdString();
        }
        EXPECT_LT(at[u"folder_line"_s].bottom(), client.height());
        EXPECT_LT(at[u"folder_line"_s].right(), client.width());
        // The picture panel: parked beyond the right edge, or over the list's right part.
        EXPECT_GE(at[u"dw_2"_s].left(), client.width());
        EXPECT_GT(at[u"dw_2 shown"_s].left(), client.width() / 3);
        EXPECT_LT(at[u"dw_2 shown"_s].right(), client.width());
        EXPECT_EQ(at[u"dw_2 shown"_s].height(), at[u"dw_1"_s].height());
    }
}

} // namespace
