#pragma once
// What a condition typed into the condition box asks for, and the query that answers it:
// the filter set on the catalogue, the rows copied into the result list, the note shown.
#include <QString>
#include <QStringView>
#include <optional>

class record_set;

// What an edit of the condition does at once.
struct edit_action {
    bool note_too_short = false; // show the "fewer than 2" note and do nothing else
    bool stop_timer = false;
    bool start_timer = false;
    bool show_all_now = false;
};
edit_action on_condition_edited(QStringView condition);

enum class picture_mode_change { keep, turn_on, turn_off };

struct query_plan {
    std::optional<QString> filter; // nullopt: the catalogue keeps its filter
    picture_mode_change picture_mode = picture_mode_change::keep;
    bool copy_every_match = false; // show-all and picture conditions have no 100-row limit
    // A pinyin condition of printable ASCII: the same answer from the search key alone, used
    // while the catalogue's key covers its stored initials.
    std::optional<QString> key_only_filter;
};
query_plan plan_query(QStringView condition);

// The expressions the queries set.
QString all_pictures_filter();
QString one_picture_type_filter(QStringView extension_without_dot);
QString name_contains_filter(QStringView text);
QString pinyin_contains_filter(QStringView text);
QString several_numbers_filter(QStringView condition);

inline constexpr int ordinary_result_limit = 100;

struct query_outcome {
    long matches = 0;
    std::optional<QString> note; // nullopt: the note keeps its text
};

// Sets and applies the plan's filter on `catalogue`, refills `results`.
query_outcome run_query(const query_plan& plan, record_set& catalogue, record_set& results);
// Show-all while typing (">>"): empty filter, every record copied.
query_outcome show_all(record_set& catalogue, record_set& results);

namespace query_notes {
inline const QString too_short = QStringLiteral("关键字少于2个,等待继续输入");
inline const QString want_all = QStringLiteral("你想查看全部结果");
inline const QString all_shown = QStringLiteral("结果全部显示");
inline const QString over_limit = QStringLiteral("结果超过100笔,未全部显示");
} // namespace query_notes
