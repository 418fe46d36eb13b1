#pragma once
// The nine columns of a catalogue record, in their fixed order.
#include <QStringView>
#include <array>

enum class column_type { long_number, text, datetime, decimal2 };

enum catalogue_column : int {
    col_machineid = 1,
    col_filename = 2,
    col_fileext = 3,
    col_createdate = 4,
    col_filepath = 5,
    col_pinyinma = 6,
    col_filesizedec = 7,
    col_sourceid = 8,
    col_filenamewithno = 9,
};

inline constexpr int catalogue_column_count = 9;

// Columns a filter may name beyond the stored ones, answered from the in-memory pinyin key:
// its initials ("pinyinkey like '%wdar%'") and full and mixed pinyin ("pinyinfull like
// '%wodear%'").
inline constexpr int col_pinyin_key = 10;
inline constexpr QStringView pinyin_key_column_name = u"pinyinkey";
inline constexpr int col_pinyin_full = 11;
inline constexpr QStringView pinyin_full_column_name = u"pinyinfull";

struct column_info {
    int number;
    QStringView name;
    column_type type;
    int max_length; // text columns only
};

inline constexpr std::array<column_info, catalogue_column_count> catalogue_columns{{
    {col_machineid, u"machineid", column_type::long_number, 0},
    {col_filename, u"filename", column_type::text, 300},
    {col_fileext, u"fileext", column_type::text, 20},
    {col_createdate, u"createdate", column_type::datetime, 0},
    {col_filepath, u"filepath", column_type::text, 1024},
    {col_pinyinma, u"pinyinma", column_type::text, 300},
    {col_filesizedec, u"filesizedec", column_type::decimal2, 0},
    {col_sourceid, u"sourceid", column_type::long_number, 0},
    {col_filenamewithno, u"filenamewithno", column_type::text, 300},
}};

inline bool is_catalogue_column(int number) {
    return number >= 1 && number <= catalogue_column_count;
}

inline const column_info& catalogue_column_info(int number) {
    return catalogue_columns[static_cast<std::size_t>(number - 1)];
}

// 0 when `name` is no column; names compare case-insensitively.
inline int catalogue_column_number(QStringView name) {
    for (const auto& c : catalogue_columns)
        if (name.compare(c.name, Qt::CaseInsensitive) == 0) return c.number;
    return 0;
}
