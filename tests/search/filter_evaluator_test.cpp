// The evaluator's fast paths against plain reference answers: the literal search,
// every storage layout on random tables, and splitting rows across threads.
#include "search/language/cpu_features.h"
#include "search/language/filter_evaluator.h"
#include "search/language/pinyin_full.h"
#include "search/language/row_at_offset.h"
#include "tests/search/fake_filter_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>

using namespace Qt::StringLiterals;

namespace {

using layout = fake_filter_source::layout;

// Small alphabets make hits, near misses and hits across row boundaries common.
QString random_text(std::mt19937& rng, int max_len, const QString& alphabet) {
    std::uniform_int_distribution<int> len(0, max_len);
    std::uniform_int_distribution<qsizetype> pick(0, alphabet.size() - 1);
    QString s;
    for (int n = len(rng); n > 0; --n) s.append(alphabet[pick(rng)]);
    return s;
}

TEST(filter_find_literal, agrees_with_a_plain_search) {
    std::mt19937 rng(7);
    const QString alphabet = u"ab我"_s;
    for (int round = 0; round < 20000; ++round) {
        const QString hay = random_text(rng, 70, alphabet);
        QString needle = random_text(rng, 6, alphabet);
        if (round % 5 == 0) needle = u"a"_s;
        const std::u16string h(QStringView(hay).utf16(), static_cast<std::size_t>(hay.size()));
        const std::u16string n(QStringView(needle).utf16(),
                               static_cast<std::size_t>(needle.size()));
        std::uniform_int_distribution<std::size_t> cut(0, h.size());
        std::size_t from = cut(rng);
        std::size_t limit = cut(rng);
        if (from > limit) std::swap(from, limit);
        const std::u16string_view window = std::u16string_view(h).substr(from, limit - from);
        const std::size_t plain = window.find(n);
        const std::size_t expected =
            plain == std::u16string_view::npos ? filter_not_found : from + plain;
        ASSERT_EQ(filter_find_literal(h.data(), from, limit, n), expected)
            << hay.toStdString() << " / " << needle.toStdString() << " " << from << ".." << limit;
    }
    const std::u16string h = u"abc";
    EXPECT_EQ(filter_find_literal(h.data(), 2, 1, u"c"), filter_not_found);
    EXPECT_EQ(filter_find_literal(h.data(), 3, 3, u""), 3u);
}

// Row starts with runs of empty rows, near and far hits, and starts past 2^31.
TEST(row_at, agrees_with_a_binary_search) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<std::uint32_t> gap(0, 3);
    for (const std::uint32_t base : {0u, 0x7FFFFFF0u, 0xFFFF0000u}) {
        std::vector<std::uint32_t> offsets{base};
        for (int r = 1; r < 300; ++r) offsets.push_back(offsets.back() + gap(rng));
        const auto e = static_cast<std::uint32_t>(offsets.size());
        for (std::uint32_t from = 0; from < e; from += 7) {
            for (std::uint32_t pos = offsets[from]; pos <= offsets.back() + 2; ++pos) {
                const auto expected = static_cast<std::uint32_t>(
                    std::upper_bound(offsets.begin(), offsets.end(), pos) - offsets.begin() - 1);
                ASSERT_EQ(row_at(offsets.data(), from, e, pos), expected) << base << " " << pos;
                ASSERT_EQ(row_at_gallop(offsets.data(), from, e, pos), expected) << pos;
#ifdef QM_X86_SIMD
                if (cpu_has_avx2()) {
                    ASSERT_EQ(row_at_ahead_avx2(offsets.data(), from, e, pos), expected) << pos;
                }
#endif
            }
        }
    }
}

// A random table and random expressions covering every pattern shape.
struct random_table {
    std::vector<fake_filter_source::cell> names;
    std::vector<fake_filter_source::cell> exts;
};

random_table make_table(std::mt19937& rng, std::size_t rows) {
    random_table t;
    // Units a wide search may read narrowed to bytes (ÿ is 255; 가 lies above 0x8000; 义 has
    // the byte of 我).
    static_assert(narrow_unit(u'义') == narrow_unit(u'我'));
    const QString alphabet = u"abc'_%我ÿ가义"_s;
    // More extensions than a picture query names, so that some queries pass many.
    const QString exts[] = {u".mp3"_s, u".jpg"_s, u".JPG"_s, u""_s,      u".avi"_s, u".png"_s,
                            u".gif"_s, u".bmp"_s, u".wav"_s, u".flac"_s, u".txt"_s};
    std::uniform_int_distribution<int> p(0, 19);
    std::uniform_int_distribution<int> e(0, static_cast<int>(std::size(exts)) - 1);
    for (std::size_t r = 0; r < rows; ++r) {
        if (p(rng) == 0)
            t.names.push_back(std::nullopt);
        else
            t.names.push_back(random_text(rng, 20, alphabet));
        if (p(rng) == 0)
            t.exts.push_back(std::nullopt);
        else
            t.exts.push_back(exts[e(rng)]);
    }
    return t;
}

// The rows whose byte is set: what filter_passing_rows must answer.
std::vector<std::uint32_t> places(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint32_t> out;
    for (std::size_t r = 0; r < bytes.size(); ++r)
        if (bytes[r]) out.push_back(static_cast<std::uint32_t>(r));
    return out;
}

fake_filter_source source_of(const random_table& t, layout names, layout exts) {
    return fake_filter_source({{u"name"_s, names, t.names}, {u"ext"_s, exts, t.exts}});
}

std::vector<QString> random_expressions(std::mt19937& rng, int count) {
    const QString alphabet = u"abc_%''我ÿ"_s;
    std::vector<QString> out = {
        u"name like '%ab%'"_s,
        u"name like '%a%' or name like '%cc%'"_s,
        u"name like 'a%b'"_s,
        u"name like '%a%b%c%'"_s,
        u"name like '%ab%c'"_s,
        u"name like '%ab'"_s,
        u"name like '%a%a%'"_s,
        u"name like '%b%%a' or name like '%c%b%'"_s,
        u"name = ''"_s,
        u"name like '%'"_s,
        u"ext = '.jpg' or ext = '.avi' or name like '%''%'"_s,
        u"ext like '.%' or ext = ''"_s,
        u"ext = '.none'"_s,
        u"name like '%a我%' or name like '%ÿ%' or name like '%가b%'"_s,
        // More "contains" than one wide scan takes, of several lengths, beside other patterns.
        u"name like '%aa%' or name like '%b%' or name like '%cab%' or name like '%ca%b%' or "
        u"name like '%bc' or name like '%abcab%' or name like '%cc%' or name like '%_%' or "
        u"name like '%ba%' or name like '%acb%' or name = 'c'"_s,
    };
    std::uniform_int_distribution<int> terms(1, 3);
    std::uniform_int_distribution<int> coin(0, 1);
    while (static_cast<int>(out.size()) < count) {
        QString e;
        for (int n = terms(rng); n > 0; --n) {
            if (!e.isEmpty()) e += u" or "_s;
            e += coin(rng) ? u"name like '"_s : u"name = '"_s;
            QString v = random_text(rng, 6, alphabet);
            if (coin(rng)) v = u"%"_s + v + u"%"_s;
            e += filter_escape(v) + u"'"_s;
        }
        out.push_back(e);
    }
    return out;
}

TEST(filter_evaluator, every_layout_gives_the_generic_answer) {
    std::mt19937 rng(11);
    const random_table t = make_table(rng, 3000);
    const fake_filter_source reference = source_of(t, layout::generic, layout::generic);
    const fake_filter_source others[] = {
        source_of(t, layout::ordered_arena, layout::dictionary),
        source_of(t, layout::ordered_gaps, layout::generic),
        source_of(t, layout::unordered_arena, layout::ordered_arena),
        source_of(t, layout::dictionary, layout::unordered_arena),
    };
    for (const QString& text : random_expressions(rng, 300)) {
        SCOPED_TRACE(text.toStdString());
        const auto expr = parse_filter(text, reference);
        ASSERT_NE(expr, nullptr);
        const std::vector<std::uint8_t> expected = evaluate_filter(*expr, reference, 1);
        for (const fake_filter_source& s : others) {
            EXPECT_EQ(evaluate_filter(*expr, s, 1), expected);
            EXPECT_EQ(filter_passing_rows(*expr, s, 1), places(expected));
        }
    }
}

TEST(filter_evaluator, threads_give_the_single_thread_answer) {
    std::mt19937 rng(13);
    const random_table t = make_table(rng, 200000);
    const fake_filter_source ordered = source_of(t, layout::ordered_arena, layout::dictionary);
    const fake_filter_source unordered = source_of(t, layout::unordered_arena, layout::generic);
    const QString texts[] = {
        u"name like '%ab%'"_s,
        u"name like '%abca%' or ext = '.avi'"_s,
        u"name like 'a%c' or name = 'b'"_s,
        u"ext = '.jpg'"_s,
        u"name like '%'"_s,
        u"(name like '%' + 'ab' + '%') or (name like '%' +'cb' + '%') or (name like '%' +'' + '%')"_s,
        u"ext = '.jpg' or  ext = '.JPG' or  ext = '.avi' "_s,
        u"ext like '%a%' or ext like '%p%'"_s,
        u"ext like '.%'"_s,
        // Several literals of one length, and of units that are not narrowed alike.
        u"name like '%abc%' or name like '%cab%' or name like '%bca%'"_s,
        u"name like '%ab%' or name like '%我a%'"_s,
        u"name like '%ÿa%' or name like '%가%'"_s,
        u""_s,
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        const auto expr = parse_filter(text, ordered);
        ASSERT_NE(expr, nullptr);
        const std::vector<std::uint8_t> single = evaluate_filter(*expr, ordered, 1);
        const auto hits = std::count(single.begin(), single.end(), std::uint8_t{1});
        EXPECT_GT(hits, 0);
        for (const unsigned threads : {1u, 2u, 3u, 7u, 0u}) {
            EXPECT_EQ(evaluate_filter(*expr, ordered, threads), single) << threads;
            EXPECT_EQ(evaluate_filter(*expr, unordered, threads), single) << threads;
            EXPECT_EQ(filter_passing_rows(*expr, ordered, threads), places(single)) << threads;
            EXPECT_EQ(filter_passing_rows(*expr, unordered, threads), places(single)) << threads;
        }
    }
}

// The key by its definition, one character at a time: an ASCII character is itself in lower
// case, an ideograph matches a letter when one of its readings begins with it.
std::vector<char32_t> characters(const QString& name) {
    std::vector<char32_t> chars;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            chars.push_back(QChar::surrogateToUcs4(name[i], name[i + 1]));
            ++i;
        } else {
            chars.push_back(name[i].unicode());
        }
    }
    return chars;
}

bool key_holds(const QString& name, const std::string& query) {
    const std::vector<char32_t> chars = characters(name);
    auto matches = [](char32_t c, char q) {
        if (c < 0x80) return c >= 0x20 && QChar::toLower(c) == static_cast<char32_t>(q);
        return q >= 'a' && q <= 'z' && ((pinyin_initials_of(c) >> (q - 'a')) & 1u);
    };
    for (std::size_t start = 0; start + query.size() <= chars.size(); ++start) {
        bool all = true;
        for (std::size_t k = 0; k < query.size() && all; ++k)
            all = matches(chars[start + k], query[k]);
        if (all) return true;
    }
    return false;
}

// Full pinyin by its definition: from character k on, `rest` splits into one piece per
// character, each a whole reading, its first letter, a "zh"/"ch"/"sh" it begins with, or,
// the last, any beginning of a reading; a Latin letter is itself. Two characters or more.
bool pieces_from(const std::vector<char32_t>& chars, std::size_t k, std::string_view rest,
                 std::size_t used) {
    if (rest.empty()) return used >= 2;
    if (k == chars.size()) return false;
    const char32_t c = chars[k];
    if (c < 0x80)
        return QChar::toLower(c) == static_cast<char32_t>(rest[0]) &&
               pieces_from(chars, k + 1, rest.substr(1), used + 1);
    for (const std::uint16_t id : pinyin_readings_of(c)) {
        const std::string_view reading = pinyin_syllable(id);
        for (std::size_t len = 1; len <= rest.size(); ++len) {
            const std::string_view piece = rest.substr(0, len);
            const bool fits =
                reading.starts_with(piece) && (len == rest.size() || len == 1 || piece == reading ||
                                               piece == "zh" || piece == "ch" || piece == "sh");
            if (fits && pieces_from(chars, k + 1, rest.substr(len), used + 1)) return true;
        }
    }
    return false;
}

// A whole syllable of two letters or more also matches one character that reads it.
bool full_holds(const QString& name, const std::string& query) {
    const std::vector<char32_t> chars = characters(name);
    bool syllable = false;
    for (std::uint16_t id = 0; id < pinyin_syllable_count(); ++id)
        syllable = syllable || (query.size() >= 2 && pinyin_syllable(id) == query);
    for (std::size_t start = 0; start < chars.size(); ++start) {
        if (pieces_from(chars, start, query, 0)) return true;
        for (const std::uint16_t id : pinyin_readings_of(chars[start]))
            if (syllable && pinyin_syllable(id) == query) return true;
    }
    return false;
}

TEST(filter_evaluator, pinyin_key_in_every_layout_and_thread_count_gives_the_plain_answer) {
    std::mt19937 rng(17);
    // Polyphones whose readings differ in their initial, single readings, syllables of one
    // initial (一 因 月 有), Traditional, an ideograph beyond the basic plane, Latin letters in
    // both cases, others, and whole syllables alone (爱 你 泥 个 歌, 呢 "ne" or "ni", 鸟
    // "diao" or "niao").
    const QString plain = u"乐长行音愛我的人西安中一因月有yYlLzc 1\U00020000é爱你泥个歌呢鸟an"_s;
    QString alphabet = plain;
    // More distinct sets of initials than one-byte codes: some are kept aside.
    std::vector<std::uint32_t> sets;
    for (char16_t c = 0x4E00; c < 0x9FA5 && sets.size() < 200; ++c) {
        const std::uint32_t letters = pinyin_initials_of(c);
        if (std::popcount(letters) < 2 ||
            std::find(sets.begin(), sets.end(), letters) != sets.end())
            continue;
        sets.push_back(letters);
        alphabet += QChar(c);
    }
    random_table t;
    std::uniform_int_distribution<int> p(0, 19);
    // Words the full pinyin below spells, among random texts now and then.
    const QString words[] = {u"我的愛人"_s, u"音乐"_s, u"因月"_s, u"中行"_s,
                             u"长行"_s,     u"和乐"_s, u"Love"_s, u"咯ve"_s};
    for (std::size_t r = 0; r < 20000; ++r) {
        QString name = random_text(rng, 12, alphabet);
        if (r % 97 == 0)
            name.insert(std::min<qsizetype>(r % 5, name.size()), words[r % std::size(words)]);
        t.names.push_back(p(rng) == 0 ? std::nullopt : std::optional(name));
        t.exts.push_back(p(rng) == 0 ? u".avi"_s : u".mp3"_s);
    }
    const std::string queries[] = {"y",  "yy",   "yl",  "lz", "cx", "hz",
                                   "zh", "wdar", "y 1", "ly", "a",  "ai"};
    // Full pinyin on the column that answers it; the initials above answer as on the key.
    // "zhang": 长 begins it, and also stands for its "z" before 行 "hang". "love": in Latin
    // letters, which the key spells, and as 咯 "lo" before them. Whole syllables alone: "ai",
    // "ni", "ge", "ne", "yue" and "chang" (乐 and 长 read two ways), "xing" and "niao" (行 and
    // 鸟 read with two initials), "an" (Latin too), "a" an initial.
    const std::string full_queries[] = {
        "yinyue",    "yinle", "wodeai", "wodear", "wdair", "xian", "zhang", "zhangxing",
        "zhonghang", "chzh",  "yue1",   "lezhy",  "hele",  "love", "ai",    "ni",
        "ge",        "ne",    "yue",    "chang",  "xing",  "niao", "an",    "a"};
    std::vector<std::string> every_query(std::begin(queries), std::end(queries));
    every_query.insert(every_query.end(), std::begin(full_queries), std::end(full_queries));
    auto check_full = [&](const fake_filter_source& s, const random_table& t) {
        for (const std::string& q : every_query) {
            const QString text =
                u"full like '%"_s + QString::fromStdString(q) + u"%' or ext = '.avi'"_s;
            const auto expr = parse_filter(text, s);
            ASSERT_NE(expr, nullptr);
            // Full pinyin is typed in letters; other texts answer as the key does.
            const bool letters =
                std::all_of(q.begin(), q.end(), [](char c) { return c >= 'a' && c <= 'z'; });
            std::vector<std::uint8_t> in_full(t.names.size()), expected(t.names.size());
            for (std::size_t r = 0; r < expected.size(); ++r) {
                in_full[r] = t.names[r] &&
                             (key_holds(*t.names[r], q) || (letters && full_holds(*t.names[r], q)));
                expected[r] = in_full[r] || t.exts[r] == u".avi"_s;
            }
            const auto avi = std::count(t.exts.begin(), t.exts.end(), u".avi"_s);
            EXPECT_TRUE(!letters || std::count(expected.begin(), expected.end(), 1) > avi) << q;
            for (const unsigned threads : {1u, 2u, 3u, 7u, 0u})
                EXPECT_EQ(evaluate_filter(*expr, s, threads), expected) << q << " " << threads;
            // Each way of finding candidates, on the column's key in two parts: the initials,
            // the same followed along the key, and the pairs of first pieces, in buckets and
            // by the state machine or neither. Full pinyin answers the initials too.
            const auto full = pinyin_full_query::compile(QString::fromStdString(q));
            if (!full) continue;
            const column_access a = s.access(s.column_number(u"full"));
            const auto rows = static_cast<std::uint32_t>(expected.size());
            for (const pinyin_full_way way :
                 {pinyin_full_way::initials, pinyin_full_way::initials_followed,
                  pinyin_full_way::pairs, pinyin_full_way::pairs_plain}) {
                std::vector<std::uint8_t> found(rows);
                for (const auto& [b, e] : {std::pair{0u, rows / 3}, std::pair{rows / 3, rows}})
                    full->find(*a.key, a.key_names, b, e, found.data() + b, nullptr, way);
                EXPECT_EQ(found, in_full) << q << " way " << static_cast<int>(way);
            }
        }
    };
    for (const layout names :
         {layout::ordered_arena, layout::unordered_arena, layout::dictionary, layout::generic}) {
        const fake_filter_source s({{u"name"_s, names, t.names},
                                    {u"ext"_s, layout::dictionary, t.exts},
                                    {u"key"_s, layout::pinyin_key, t.names},
                                    {u"full"_s, layout::pinyin_full, t.names}});
        for (const std::string& q : queries) {
            // Beside other terms, and alone (the key's rows are then handed over directly).
            for (const bool alone : {false, true}) {
                const QString typed = QString::fromStdString(q).toUpper();
                const QString key = u"key like '%"_s + typed + u"%'"_s;
                const QString text =
                    alone ? key : u"name like '%我%' or "_s + key + u" or ext = '.avi'"_s;
                const auto expr = parse_filter(text, s);
                ASSERT_NE(expr, nullptr);
                std::vector<std::uint8_t> expected(t.names.size());
                for (std::size_t r = 0; r < expected.size(); ++r)
                    expected[r] = (t.names[r] && ((!alone && t.names[r]->contains(u'我')) ||
                                                  key_holds(*t.names[r], q))) ||
                                  (!alone && t.exts[r] == u".avi"_s);
                for (const unsigned threads : {1u, 2u, 3u, 7u, 0u}) {
                    EXPECT_EQ(evaluate_filter(*expr, s, threads), expected) << q << " " << threads;
                    EXPECT_EQ(filter_passing_rows(*expr, s, threads), places(expected)) << q;
                }
            }
        }
        if (names == layout::ordered_arena) check_full(s, t); // it reads its own texts
    }
    // Few sets of initials: the commonest mixes of classes get codes of their own.
    random_table few;
    for (std::size_t r = 0; r < 4000; ++r) {
        QString name = random_text(rng, 12, plain);
        if (r % 31 == 0)
            name.insert(std::min<qsizetype>(r % 5, name.size()), words[r % std::size(words)]);
        few.names.push_back(name);
        few.exts.push_back(u".mp3"_s);
    }
    check_full(fake_filter_source({{u"name"_s, layout::ordered_arena, few.names},
                                   {u"ext"_s, layout::dictionary, few.exts},
                                   {u"full"_s, layout::pinyin_full, few.names}}),
               few);
}

TEST(filter_evaluator, more_threads_than_rows) {
    const fake_filter_source s({{u"name"_s, layout::ordered_arena, {u"ab"_s, u"b"_s, u"xab"_s}}});
    const auto expr = parse_filter(u"name like '%ab%'", s);
    ASSERT_NE(expr, nullptr);
    EXPECT_EQ(evaluate_filter(*expr, s, 16), (std::vector<std::uint8_t>{1, 0, 1}));
    EXPECT_EQ(filter_passing_rows(*expr, s, 16), (std::vector<std::uint32_t>{0, 2}));
}

} // namespace
