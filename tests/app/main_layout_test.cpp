#include "app/main/main_layout.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(main_layout, a_resize_moves_every_control_by_the_rule) {
    control_places p = design_places();
    apply_resize_rule(p, 5000, 3000, 5040);
    EXPECT_EQ(p[u"p_1"_s].width(), 5000);
    EXPECT_EQ(p[u"p_2"_s].width(), 5000);
    EXPECT_EQ(p[u"dw_1"_s].size(), QSize(5000, 3000 - 120 - 180));
    EXPECT_EQ(p[u"dw_2"_s].x(), 5040) << "parked beyond the right edge";
    EXPECT_EQ(p[u"dw_2"_s].height(), p[u"dw_1"_s].height());
    EXPECT_EQ(p[u"p_2"_s].y(), 3000 - 130);
    for (const auto* name :
         {u"cb_scandisk", u"st_scaned_qty", u"st_query_note", u"cb_clear_downpath", u"cb_dowpath",
          u"cb_selectdir", u"cb_open_custdir", u"st_down_qty"})
        EXPECT_EQ(p[QString::fromUtf16(name)].y(), 3000 - 110)
            << QString::fromUtf16(name).toStdString();
    EXPECT_EQ(p[u"rb_default"_s].y(), 3000 - 105);
    EXPECT_EQ(p[u"rb_baofeng"_s].y(), 3000 - 105);
    EXPECT_EQ(p[u"ddlb_1"_s].width(), 5000 - 1010);
    EXPECT_EQ(p[u"cb_query"_s].x(), 5000 - 990);
    EXPECT_EQ(p[u"cb_clear"_s].x(), 5000 - 670);
    EXPECT_EQ(p[u"cb_fileext"_s].x(), 5000 - 350);
    // Sizes the rule does not name stay.
    EXPECT_EQ(p[u"cb_query"_s].size(), design_places()[u"cb_query"_s].size());
}

TEST(main_layout, the_picture_panel_covers_the_right_part_of_the_list) {
    const QRect shown = picture_panel_shown(QRect(4059, 180, 55, 2068), 4741);
    EXPECT_EQ(shown.x(), 4741 * 4 / 10 + 40);
    EXPECT_EQ(shown.width(), static_cast<int>(4741 * 6.0 / 10 - 90));
    EXPECT_EQ(shown.y(), 180);
    EXPECT_EQ(shown.height(), 2068);
}

} // namespace
