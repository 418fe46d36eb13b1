#include "catalogue/ui/d_file_info_simp_model.h"

#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFont>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

namespace {

using model = d_file_info_simp_model;

TEST(d_file_info_simp_model, cells_are_shown_as_the_list_shows_them) {
    record_set rs;
    model m(rs);
    rs.insertrow(0);
    rs.set_long(1, col_machineid, 7);
    rs.set_text(1, col_filename, u"歌名"_s);
    rs.set_datetime(1, col_createdate, local_datetime::from(QDate(2024, 3, 9), QTime(8, 7, 6)));
    rs.set_decimal(1, col_filesizedec, decimal2{5});
    rs.insertrow(0);
    rs.set_long(2, col_sourceid, 1002);
    auto cell = [&](int row, int column) {
        return m.data(m.index(row, column), Qt::DisplayRole).toString();
    };
    EXPECT_EQ(m.rowCount(), 2);
    EXPECT_EQ(cell(0, model::shown_machineid), u"7"_s);
    EXPECT_EQ(cell(0, model::shown_filename), u"歌名"_s);
    EXPECT_EQ(cell(0, model::shown_createdate), u"2024-03-09"_s);
    EXPECT_EQ(cell(0, model::shown_filesizedec), u"0.05"_s);
    EXPECT_EQ(cell(0, model::shown_sourceid), QString()) << "0 is not shown";
    EXPECT_EQ(cell(1, model::shown_sourceid), u"1002"_s);
    EXPECT_EQ(cell(1, model::shown_createdate), QString());
    EXPECT_EQ(cell(0, model::button_ting), u"试听"_s);
    EXPECT_EQ(cell(0, model::button_down), u"下载"_s);
    EXPECT_EQ(m.headerData(model::button_down, Qt::Horizontal, Qt::DisplayRole).toString(),
              u"下载全部"_s);
    EXPECT_EQ(m.headerData(model::shown_filepath, Qt::Horizontal, Qt::DisplayRole).toString(),
              u"文件路径\nFilepath"_s);
    EXPECT_EQ(model::object_name(model::button_ting), u"b_ting"_s);
    EXPECT_EQ(model::object_name(model::shown_filename), u"filename"_s);
}

TEST(d_file_info_simp_model, the_current_rows_number_is_larger_bold_and_red) {
    record_set rs;
    model m(rs);
    rs.insertrow(0);
    rs.insertrow(0);
    m.set_current_row(2);
    const QFont number = m.data(m.index(1, 0), Qt::FontRole).value<QFont>();
    EXPECT_TRUE(number.bold());
    EXPECT_GT(number.pointSize(), 9) << "larger than the list's 9 pt";
    EXPECT_FALSE(number.resolveMask() & QFont::FamiliesResolved) << "the list's family stays";
    EXPECT_EQ(m.data(m.index(1, 0), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_FALSE(m.data(m.index(0, 0), Qt::FontRole).isValid());
    EXPECT_FALSE(m.data(m.index(1, 1), Qt::FontRole).isValid());
}

TEST(d_file_info_simp_model, the_summary_follows_the_rows_copied_in) {
    record_set catalogue, list;
    model m(list);
    for (const std::int64_t cents : {125, 130, 0}) {
        const long r = catalogue.insertrow(0);
        catalogue.set_decimal(r, col_filesizedec, decimal2{cents});
    }
    catalogue.insertrow(0); // no size
    QSignalSpy replaced(&m, &model::rows_replaced);
    catalogue.rowscopy(1, 4, list);
    EXPECT_GE(replaced.size(), 1);
    EXPECT_EQ(m.rowCount(), 4);
    EXPECT_EQ(m.summary_count(), u"4"_s);
    EXPECT_EQ(m.summary_total_size(), u"2.6"_s) << "2.55 rounds up";
    list.reset();
    EXPECT_EQ(m.summary_count(), u"0"_s);
    EXPECT_EQ(m.summary_total_size(), u"0.0"_s);
}

// Hundreds of thousands of rows are summed in parts on several threads: every row counts once.
TEST(d_file_info_simp_model, the_summary_of_very_many_rows_counts_each_once) {
    record_set catalogue, list;
    model m(list);
    constexpr std::int64_t rows = 600'001;
    catalogue.append_rows([&](record_storage& s) {
        for (std::int64_t r = 0; r < rows; ++r) {
            const std::uint32_t id = s.add_row();
            if (r % 7 != 0) s.set_decimal(id, col_filesizedec, decimal2{r % 1000});
        }
    });
    std::int64_t cents = 0;
    for (std::int64_t r = 0; r < rows; ++r)
        if (r % 7 != 0) cents += r % 1000;
    catalogue.rowscopy(1, rows, list);
    const std::int64_t tenths = (cents + 5) / 10;
    EXPECT_EQ(m.summary_total_size(), QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10));
}

} // namespace
