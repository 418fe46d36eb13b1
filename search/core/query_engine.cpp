#include "search/core/query_engine.h"

#include "catalogue/core/record_set.h"
#include "catalogue/core/record_storage.h"
#include "search/language/filter_language.h"
#include "search/language/pinyin_full.h"
#include "search/language/pinyin_key.h"

namespace {

bool is_show_all_char(QChar c) {
    return c == u'>' || c == u'》';
}

// Characters compare in code page 936 order: every one outside ASCII comes after "z".
bool after_z(QChar c) {
    return c.unicode() > u'z';
}

// Leading and trailing blanks only; tabs and other spaces are part of the text.
QStringView trim_blanks(QStringView text) {
    while (!text.isEmpty() && text.front() == u' ') text = text.mid(1);
    while (!text.isEmpty() && text.back() == u' ') text.chop(1);
    return text;
}

QString blanks_to_wildcards(QStringView text) {
    QString out = trim_blanks(text).toString();
    out.replace(u' ', u'%');
    return out;
}

} // namespace

edit_action on_condition_edited(QStringView condition) {
    edit_action a;
    if (condition.size() < 2) {
        a.note_too_short = true;
        return a;
    }
    const QChar f = condition.front();
    if (f == u' ') {
        a.stop_timer = true;
    } else if (is_show_all_char(f)) {
        a.stop_timer = true;
        a.show_all_now = true;
    } else {
        a.start_timer = true;
    }
    return a;
}

QString all_pictures_filter() {
    return QStringLiteral("fileext = '.jpg' or  fileext = '.jpeg' or  fileext = '.bmp' or  "
                          "fileext = '.gif' or  fileext = '.rle' or  fileext = '.wmf' ");
}

QString one_picture_type_filter(QStringView extension_without_dot) {
    return QStringLiteral("fileext = '.' + '") + filter_escape(extension_without_dot) +
           QStringLiteral("'");
}

QString name_contains_filter(QStringView text) {
    return QStringLiteral("filenamewithno like '%' +'") + filter_escape(text) +
           QStringLiteral("' + '%'");
}

namespace {

// The search key's term: initials of every reading of every ideograph, and full pinyin when
// the text asks for more than initials.
QString key_term(QStringView text) {
    return (pinyin_full_applies(text) ? QStringLiteral("pinyinfull like '%' + '")
                                      : QStringLiteral("pinyinkey like '%' + '")) +
           filter_escape(text) + QStringLiteral("' + '%'");
}

} // namespace

QString pinyin_contains_filter(QStringView text) {
    // The stored initials as ever, or the search key.
    return QStringLiteral("pinyinma like '%' +'") + filter_escape(text) +
           QStringLiteral("' + '%' or ") + key_term(text);
}

QString several_numbers_filter(QStringView condition) {
    const QString s = trim_blanks(condition).toString() + u' ';
    QString expression;
    qsizetype start = 0;
    bool first = true;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u' ') continue;
        const QString token = filter_escape(QStringView(s).mid(start, i - start));
        if (first) {
            expression =
                QStringLiteral("(filenamewithno like '%' + '") + token + QStringLiteral("' + '%')");
            first = false;
        } else {
            expression += QStringLiteral(" or (filenamewithno like '%' +'") + token +
                          QStringLiteral("' + '%')");
        }
        start = i + 1;
    }
    return expression;
}

query_plan plan_query(QStringView c) {
    query_plan plan;
    if (c.isEmpty()) return plan;
    const QChar f = c.front();
    if (f == u'P') {
        plan.picture_mode = picture_mode_change::turn_on;
        plan.filter = c == u"PPPP" ? all_pictures_filter()
                                   : one_picture_type_filter(c.mid(1).toString().toLower());
        plan.copy_every_match = true;
        return plan;
    }
    if (is_show_all_char(f)) plan.copy_every_match = true;
    if (after_z(f)) {
        plan.picture_mode = picture_mode_change::turn_off;
        plan.filter = name_contains_filter(blanks_to_wildcards(c));
    } else if (f == u' ') {
        plan.picture_mode = picture_mode_change::turn_off;
        plan.filter = several_numbers_filter(c);
    } else if (f >= u'0' && f <= u'9' && !c.contains(u' ')) {
        plan.picture_mode = picture_mode_change::turn_off;
        plan.filter = name_contains_filter(c);
    } else if (f >= u'a' && f <= u'z') {
        plan.picture_mode = picture_mode_change::turn_off;
        plan.filter = pinyin_contains_filter(c);
        // The key answers plain contains only, so wildcards keep the stored initials in play.
        if (!pinyin_key_query(c).empty() && !c.contains(u'%') && !c.contains(u'_'))
            plan.key_only_filter = key_term(c);
    }
    return plan;
}

query_outcome run_query(const query_plan& plan, record_set& catalogue, record_set& results) {
    results.setredraw(false);
    if (plan.filter) {
        if (plan.key_only_filter) catalogue.await_pinyin_key();
        const bool key_alone =
            plan.key_only_filter && catalogue.storage().pinyin_key_answers_alone();
        catalogue.setfilter(key_alone ? *plan.key_only_filter : *plan.filter);
        catalogue.filter();
    } else if (!catalogue.filter_text().isEmpty()) {
        // A scan appends records past the filter; a search lists only records that match.
        catalogue.filter();
    }
    query_outcome out;
    out.matches = catalogue.rowcount();
    results.reset();
    if (out.matches >= 1) {
        if (plan.copy_every_match || out.matches < ordinary_result_limit) {
            catalogue.rowscopy(1, out.matches, results);
            out.note = query_notes::all_shown;
        } else {
            catalogue.rowscopy(1, ordinary_result_limit, results);
            out.note = query_notes::over_limit;
        }
    }
    results.setredraw(true);
    return out;
}

query_outcome show_all(record_set& catalogue, record_set& results) {
    catalogue.setfilter(u"");
    catalogue.filter();
    query_outcome out;
    out.matches = catalogue.rowcount();
    results.reset();
    if (out.matches >= 1) catalogue.rowscopy(1, out.matches, results);
    out.note = query_notes::want_all;
    return out;
}
