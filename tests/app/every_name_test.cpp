// Names as users' collections hold them, from the disk through the scan into a search, a
// saved and reloaded catalogue, and a copy: GBK bytes, Traditional and rare characters,
// polyphones, Latin letters in any case.
#include "app/shell/operation_feedback.h"
#include "catalogue/core/catalogue_columns.h"
#include "catalogue/core/catalogue_loading.h"
#include "catalogue/core/native_names.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/scan_command.h"
#include "retrieval/core/gf_copyfile_block.h"
#include "search/core/query_engine.h"
#include "tests/support/test_files.h"
#include "tests/support/tree_builder.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

class every_name : public ::testing::Test {
  protected:
    scan_outcome scan(record_set& into) {
        scan_request request;
        request.areas = {tree.root()};
        request.options.gs_filetype = {u".mp3"_s};
        request.options.gi_filetype_upperbound = 1;
        request.program_folder = program.path() + u'/';
        return run_scan_command(request, into, feedback, [](const QString&) {});
    }
    // Shown names (name + extension) of what the condition lists, in catalogue order.
    static QStringList found(record_set& catalogue, const QString& condition) {
        record_set results;
        const query_plan plan = plan_query(condition);
        if (!plan.filter) return {u"(no filter)"_s};
        run_query(plan, catalogue, results);
        QStringList out;
        for (long r = 1; r <= results.rowcount(); ++r)
            out << results.getitemstring(r, col_filenamewithno) +
                       results.getitemstring(r, col_fileext);
        catalogue.setfilter(u"");
        catalogue.filter();
        return out;
    }

    tree_builder tree;
    QTemporaryDir program;
    silent_feedback feedback;
};

TEST_F(every_name, every_name_is_found_by_what_a_user_types) {
    struct case_t {
        QByteArray file;  // bytes on disk
        QString shown;    // name + extension in the record
        QString pinyinma; // as stored catalogues have it
        QStringList conditions;
    };
    const case_t cases[] = {
        {"\xc4\xe3\xba\xc3.mp3", u"你好.mp3"_s, u"nh"_s, {u"你好"_s, u"nh"_s}},
        {"我的愛人.mp3", u"我的愛人.mp3"_s, u"wd愛r"_s, {u"wdar"_s, u"wd愛r"_s, u"wodear"_s}},
        {"我的爱人.mp3", u"我的爱人.mp3"_s, u"wdar"_s, {u"wodeairen"_s, u"wodear"_s, u"wdair"_s}},
        {"後來.mp3", u"後來.mp3"_s, u"後來"_s, {u"hl"_s, u"houlai"_s}},
        {"聽海.mp3", u"聽海.mp3"_s, u"聽h"_s, {u"th"_s}},
        {"茉莉花.mp3", u"茉莉花.mp3"_s, u"茉lh"_s, {u"mlh"_s}},
        {"千千阙歌.mp3", u"千千阙歌.mp3"_s, u"qq阙g"_s, {u"qqqg"_s}},
        {"音乐.mp3", u"音乐.mp3"_s, u"yl"_s, {u"yy"_s, u"yl"_s, u"yinyue"_s, u"yinle"_s}},
        {"Yesterday.mp3", u"Yesterday.mp3"_s, u"Yesterday"_s, {u"yesterday"_s, u"yEsterDay"_s}},
        {"DJ 舞曲.mp3", u"DJ 舞曲.mp3"_s, u"DJ wq"_s, {u"dj"_s, u"dj w"_s}},
        {"\xf0\xa0\x80\x80.mp3", u"\U00020000.mp3"_s, u"\U00020000"_s, {u"h"_s}},
    };
    for (const case_t& c : cases) tree_builder::raw_file(tree.root_bytes(), c.file);
    record_set catalogue;
    const scan_outcome out = scan(catalogue);
    ASSERT_EQ(out.count, static_cast<long>(std::size(cases)));
    for (const case_t& c : cases) {
        bool listed = false;
        for (long r = 1; r <= catalogue.rowcount(); ++r) {
            const QString shown = catalogue.getitemstring(r, col_filenamewithno) +
                                  catalogue.getitemstring(r, col_fileext);
            if (shown != c.shown) continue;
            listed = true;
            EXPECT_EQ(catalogue.getitemstring(r, col_pinyinma), c.pinyinma);
            EXPECT_TRUE(native_is_file(catalogue.getitemstring(r, col_filepath)));
        }
        EXPECT_TRUE(listed) << c.shown.toStdString();
        for (const QString& condition : c.conditions)
            EXPECT_TRUE(found(catalogue, condition).contains(c.shown))
                << condition.toStdString() << " should find " << c.shown.toStdString();
    }
    // Capitals keep their rule: no filter ("P" is picture mode).
    EXPECT_EQ(found(catalogue, u"Yesterday"_s), QStringList{u"(no filter)"_s});
    EXPECT_EQ(found(catalogue, u"yy"_s), QStringList{u"音乐.mp3"_s});
    EXPECT_EQ(found(catalogue, u"dj"_s), QStringList{u"DJ 舞曲.mp3"_s});
    EXPECT_EQ(found(catalogue, u"yinyue"_s), QStringList{u"音乐.mp3"_s});
    EXPECT_EQ(found(catalogue, u"wodeairen"_s).size(), 2);
    // Latin names answer letter for letter, full pinyin or not.
    EXPECT_EQ(found(catalogue, u"yesterday"_s), QStringList{u"Yesterday.mp3"_s});
    EXPECT_EQ(found(catalogue, u"yestarday"_s), QStringList{});
}

TEST_F(every_name, a_gbk_path_survives_save_and_reload_and_left_out_names_are_told) {
    const QByteArray gbk_folder = tree_builder::raw_folder(tree.root_bytes(), "\xb8\xe8");  // 歌
    const QByteArray gbk_file = tree_builder::raw_file(gbk_folder, "\xc4\xe3\xba\xc3.mp3"); // 你好
    write_all_bytes(QString::fromUtf8(tree.root_bytes()) + u"plain.mp3"_s, "plain");
    tree_builder::raw_file(tree.root_bytes(), "bad\xff.mp3");
    tree.file(u"tab\tname.mp3"_s);
    {
        FILE* raw = std::fopen(gbk_file.constData(), "wb"); // by its bytes: not UTF-8
        ASSERT_NE(raw, nullptr);
        std::fputs("song", raw);
        std::fclose(raw);
    }
    record_set scanned;
    const scan_outcome out = scan(scanned);
    ASSERT_EQ(out.count, 2);
    EXPECT_TRUE(out.failed_saves.isEmpty());
    EXPECT_TRUE(scan_closing_message(out).endsWith(
        u"\n\n有 2 个文件或文件夹未能收入清单(文件名编码无法识别 1 个,文件名含制表符或换行符 1 个)"_s))
        << scan_closing_message(out).toStdString();

    record_set loaded;
    ASSERT_EQ(load_catalogue(loaded, program.path() + u'/').loaded, 2);
    EXPECT_EQ(found(loaded, u"nh"_s), QStringList{u"你好.mp3"_s});
    EXPECT_EQ(found(loaded, u"你好"_s), QStringList{u"你好.mp3"_s});
    const long row = loaded.getitemstring(1, col_filename) == u"你好"_s ? 1 : 2;
    const QString path = loaded.getitemstring(row, col_filepath);
    EXPECT_EQ(shown_path(path), tree.root() + u"歌/你好.mp3"_s);
    EXPECT_EQ(native_path(path), tree.root_bytes() + "\xb8\xe8/\xc4\xe3\xba\xc3.mp3");
    const QString copy = program.path() + u"/copy.mp3"_s;
    ASSERT_TRUE(gf_copyfile_block(path, copy, false, feedback));
    EXPECT_EQ(read_all_bytes(copy), "song");
}

} // namespace
