#pragma once
// A small table for filter tests: every column holds optional texts and offers them
// in the way its layout says, so one data set can be read through every access kind.
#include "search/language/filter_source.h"
#include "search/language/pinyin_key.h"

#include <QString>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

class fake_filter_source final : public filter_source {
  public:
    enum class layout {
        ordered_arena,   // texts back to back in row order, no gaps, with their byte copy
        ordered_gaps,    // in row order with a gap after each text, without the byte copy
        unordered_arena, // texts in reverse row order, with gaps between them
        dictionary,
        generic,
        pinyin_key,  // the pinyin search key of the column's texts
        pinyin_full, // the same key, with the texts for full pinyin
    };
    using cell = std::optional<QString>;

    struct column {
        QString name;
        layout how = layout::generic;
        std::vector<cell> values;
    };

    explicit fake_filter_source(std::vector<column> columns) : columns_(std::move(columns)) {
        stores_.resize(columns_.size());
        for (std::size_t c = 0; c < columns_.size(); ++c) build(columns_[c], stores_[c]);
    }

    std::uint32_t row_count() const override {
        return columns_.empty() ? 0 : static_cast<std::uint32_t>(columns_.front().values.size());
    }

    int column_number(QStringView name) const override {
        for (std::size_t c = 0; c < columns_.size(); ++c)
            if (name.compare(columns_[c].name, Qt::CaseInsensitive) == 0)
                return static_cast<int>(c) + 1;
        return 0;
    }

    column_access access(int number) const override {
        const column& col = columns_.at(static_cast<std::size_t>(number - 1));
        const store& s = stores_.at(static_cast<std::size_t>(number - 1));
        column_access a;
        switch (col.how) {
        case layout::ordered_arena:
        case layout::ordered_gaps:
        case layout::unordered_arena:
            a.how = column_access::kind::arena;
            a.arena = {s.data.data(),
                       s.data.size(),
                       s.offsets.data(),
                       s.lengths.data(),
                       col.how != layout::unordered_arena,
                       col.how == layout::ordered_arena ? s.narrow.data() : nullptr,
                       col.how == layout::ordered_arena};
            break;
        case layout::dictionary:
            a.how = column_access::kind::dictionary;
            a.dictionary.ids = s.ids.data();
            a.dictionary.texts = s.texts;
            break;
        case layout::generic:
            a.how = column_access::kind::generic;
            break;
        case layout::pinyin_key:
        case layout::pinyin_full:
            a.how = col.how == layout::pinyin_key ? column_access::kind::pinyin_key
                                                  : column_access::kind::pinyin_full;
            a.key = &s.key;
            a.key_names = [&s](std::uint32_t row) {
                const std::uint16_t len = s.lengths[row];
                return len == null_text_length
                           ? std::u16string_view()
                           : std::u16string_view(s.data.data() + s.offsets[row], len);
            };
            return a;
        }
        a.text_of = [&col](std::uint32_t row, QString& out) {
            const cell& v = col.values[row];
            if (!v) return false;
            out = *v;
            return true;
        };
        return a;
    }

  private:
    struct store {
        std::vector<char16_t> data;
        std::vector<std::uint8_t> narrow;
        std::vector<std::uint32_t> offsets;
        std::vector<std::uint16_t> lengths;
        std::vector<std::uint32_t> ids;
        std::vector<QString> texts;
        ::pinyin_key key;
    };

    static void append(store& s, std::size_t row, const cell& v) {
        s.offsets[row] = static_cast<std::uint32_t>(s.data.size());
        if (!v) return;
        s.lengths[row] = static_cast<std::uint16_t>(v->size());
        const QStringView view(*v);
        s.data.insert(s.data.end(), view.utf16(), view.utf16() + view.size());
    }

    static void build(const column& col, store& s) {
        const std::size_t n = col.values.size();
        switch (col.how) {
        case layout::ordered_arena:
        case layout::ordered_gaps:
            s.offsets.assign(n, 0);
            s.lengths.assign(n, null_text_length);
            for (std::size_t r = 0; r < n; ++r) {
                append(s, r, col.values[r]);
                if (col.how == layout::ordered_gaps) s.data.push_back(u'#');
            }
            s.narrow.resize(s.data.size());
            narrow_units(s.data.data(), s.data.size(), s.narrow.data());
            break;
        case layout::unordered_arena:
            s.offsets.assign(n, 0);
            s.lengths.assign(n, null_text_length);
            for (std::size_t r = n; r-- > 0;) {
                append(s, r, col.values[r]);
                s.data.push_back(u'#'); // a gap no row owns
            }
            break;
        case layout::dictionary:
            for (const cell& v : col.values) {
                if (!v) {
                    s.ids.push_back(text_dictionary_view::null_id);
                    continue;
                }
                auto it = std::find(s.texts.begin(), s.texts.end(), *v);
                s.ids.push_back(static_cast<std::uint32_t>(it - s.texts.begin()));
                if (it == s.texts.end()) s.texts.push_back(*v);
            }
            break;
        case layout::generic:
            break;
        case layout::pinyin_key:
        case layout::pinyin_full: {
            s.offsets.assign(n, 0);
            s.lengths.assign(n, null_text_length);
            for (std::size_t r = 0; r < n; ++r) append(s, r, col.values[r]);
            const text_arena_view names{s.data.data(), s.data.size(), s.offsets.data(),
                                        s.lengths.data(), true};
            // Three parts, so codes are joined across parts as in a large catalogue.
            s.key = ::pinyin_key::build(names, static_cast<std::uint32_t>(n), 3);
            break;
        }
        }
    }

    std::vector<column> columns_;
    std::vector<store> stores_;
};
