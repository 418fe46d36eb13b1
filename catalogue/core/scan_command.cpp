#include "catalogue/core/scan_command.h"

#include "app/shell/operation_feedback.h"
#include "catalogue/core/catalogue_file.h"
#include "catalogue/core/n_filetouch.h"
#include "catalogue/core/record_set.h"
#include "catalogue/core/spreadsheet_export.h"

#include <QDir>

scan_outcome run_scan_command(const scan_request& request, record_set& catalogue,
                              operation_feedback& feedback,
                              const std::function<void(const QString&)>& show_count) {
    n_filetouch fsearch(feedback, request.options, show_count);
    catalogue.reset();
    feedback.of_setmessage(QStringLiteral("搜索指定文件夹内的所有文件"));
    for (const QString& area : request.areas)
        fsearch.of_directory(area, QStringLiteral("*.*"), catalogue, 1);
    // A search during the scan left a filter on the catalogue: count and save every record.
    if (!catalogue.filter_text().isEmpty()) {
        catalogue.setfilter(u"");
        catalogue.filter();
    }
    // Searches during the scan found records by pinyinma only; now every record has its key.
    catalogue.build_pinyin_key();
    scan_outcome out;
    out.left_out = fsearch.left_out();
    out.count = catalogue.rowcount();
    const QString count = QString::number(out.count);
    feedback.of_setmessage(QStringLiteral("共找到符合的文件: ") + count +
                           QStringLiteral("个,保存结果..."));
    show_count(count + QStringLiteral("个"));
    out.sheet_path = request.program_folder + spreadsheet_export_file_name;
    out.stopped = feedback.ib_stop();
    if (out.stopped) return out;
    const QString catalogue_path = request.program_folder + catalogue_file_name;
    if (!save_catalogue_file(catalogue, catalogue_path)) out.failed_saves << catalogue_path;
    if (!save_spreadsheet_export(catalogue, out.sheet_path)) out.failed_saves << out.sheet_path;
    return out;
}

namespace {

// One line: how many files the catalogue could not hold, and why.
QString left_out_line(const n_filetouch::left_out_counts& n) {
    if (n.total() == 0) return {};
    QStringList why;
    if (n.undecodable) why << QStringLiteral("文件名编码无法识别 %1 个").arg(n.undecodable);
    if (n.bad_character) why << QStringLiteral("文件名含制表符或换行符 %1 个").arg(n.bad_character);
    if (n.too_long) why << QStringLiteral("路径过长 %1 个").arg(n.too_long);
    return QStringLiteral("有 %1 个文件或文件夹未能收入清单(").arg(n.total()) +
           why.join(QStringLiteral(",")) + QStringLiteral(")");
}

// One line: how many folders could not be read, and the first of them.
QString unreadable_line(const n_filetouch::left_out_counts& n) {
    if (n.unreadable_folders == 0) return {};
    return QStringLiteral("有 %1 个文件夹无法读取,其中的文件未收入清单(第一个: %2)")
        .arg(QString::number(n.unreadable_folders), QDir::toNativeSeparators(n.first_unreadable));
}

} // namespace

QString scan_closing_message(const scan_outcome& outcome) {
    QStringList lines{left_out_line(outcome.left_out), unreadable_line(outcome.left_out)};
    lines.removeAll(QString());
    const QString left_out = lines.join(QStringLiteral("\n"));
    if (outcome.stopped) return left_out;
    // A file that could not be written is named instead of claiming success; the previous
    // file is still there.
    QString text = outcome.failed_saves.isEmpty()
                       ? QStringLiteral("文件清单已经存放在: \n\n") + outcome.sheet_path
                       : QStringLiteral("以下文件未能保存(原有文件保持不变): \n\n") +
                             outcome.failed_saves.join(u'\n');
    if (!left_out.isEmpty()) text += QStringLiteral("\n\n") + left_out;
    return text;
}
