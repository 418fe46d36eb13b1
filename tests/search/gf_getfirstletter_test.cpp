#include "search/language/gf_getfirstletter.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringDecoder>
#include <QStringEncoder>

using namespace Qt::StringLiterals;

void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct text_case {
    QString input;
    QString lower;
    QString upper;
};

TEST(gf_getfirstletter, texts_give_their_initials_in_both_cases) {
    const text_case cases[] = {
        {u"我的爱人"_s, u"wdar"_s, u"WDAR"_s},
        {u"MP3 我的"_s, u"MP3 wd"_s, u"MP3 WD"_s},
        {u"mp3-我.的"_s, u"mp3-w.d"_s, u"MP3-W.D"_s},
        {u""_s, u""_s, u""_s},
        {u"啊"_s, u"啊"_s, u"啊"_s},             // B0A1, just before 阿
        {u"阿啊座"_s, u"a啊z"_s, u"A啊Z"_s},     // first, kept, last first-level
        {u"亍"_s, u"亍"_s, u"亍"_s},             // D8A1, second level
        {u"！，。"_s, u"！，。"_s, u"！，。"_s}, // full-width symbols before B0A1
        {u"ａｂ"_s, u"ａｂ"_s, u"ＡＢ"_s},       // full-width letters are upper-cased too
        {u"㐀"_s, u"㐀"_s, u"㐀"_s},             // CJK extension A: no GB2312 code
        {u"丟"_s, u"丟"_s, u"丟"_s},             // U+4E1F: in the table's range, not GB2312
        {u"straße"_s, u"straße"_s, u"STRAßE"_s}, // no growth: one unit out per unit in
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gf_getfirstletter(c.input), c.lower) << c.input.toStdString();
        EXPECT_EQ(gf_getfirstletter(c.input, 0), c.lower) << c.input.toStdString();
        EXPECT_EQ(gf_getfirstletter(c.input, 1), c.upper) << c.input.toStdString();
        EXPECT_EQ(gf_getfirstletter(c.input, -7), c.upper) << c.input.toStdString();
    }
}

TEST(gf_getfirstletter, every_boundary_character_maps_to_its_own_row) {
    // Each boundary, and the first-level character just before it (one code lower),
    // which still belongs to the row below.
    struct row {
        const char16_t* boundary;
        const char16_t* before;
        char16_t initial;
    };
    const row rows[] = {
        {u"匝", u"孕", 'z'}, {u"压", u"迅", 'y'}, {u"昔", u"误", 'x'}, {u"挖", u"唾", 'w'},
        {u"塌", u"所", 't'}, {u"撒", u"弱", 's'}, {u"然", u"群", 'r'}, {u"期", u"瀑", 'q'},
        {u"啪", u"沤", 'p'}, {u"哦", u"诺", 'o'}, {u"拿", u"穆", 'n'}, {u"妈", u"络", 'm'},
        {u"垃", u"阔", 'l'}, {u"喀", u"骏", 'k'}, {u"击", u"祸", 'j'}, {u"哈", u"过", 'h'},
        {u"噶", u"咐", 'g'}, {u"发", u"贰", 'f'}, {u"蛾", u"堕", 'e'}, {u"搭", u"错", 'd'},
        {u"擦", u"怖", 'c'}, {u"芭", u"澳", 'b'}, {u"阿", u"啊", 'a'}};
    static_assert(std::size(rows) == 23);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const QString boundary = QString::fromUtf16(rows[i].boundary);
        const QString before = QString::fromUtf16(rows[i].before);
        EXPECT_EQ(gf_getfirstletter(boundary), QString(QChar(rows[i].initial))) << i;
        const QString want_before =
            i + 1 < std::size(rows) ? QString(QChar(rows[i + 1].initial)) : before;
        EXPECT_EQ(gf_getfirstletter(before), want_before) << i;
    }
    EXPECT_EQ(gf_getfirstletter(u"座"), u"z"_s);  // D7F9, the last first-level character
    EXPECT_EQ(gf_getfirstletter(u"芙"), u"芙"_s); // DCBD: common, but second level
}

TEST(gf_getfirstletter, surrogate_pairs_keep_both_units) {
    const QString pair = QString::fromUcs4(U"\U00020000"); // CJK extension B
    ASSERT_EQ(pair.size(), 2);
    const QString input = u"我"_s + pair + u"的"_s;
    EXPECT_EQ(gf_getfirstletter(input), u"w"_s + pair + u"d"_s);
    EXPECT_EQ(gf_getfirstletter(input, 1), u"W"_s + pair + u"D"_s);

    // A lone surrogate is kept as it is, never paired with a neighbour.
    const QString lone = QString(QChar(0xD840)) + u"我"_s;
    EXPECT_EQ(gf_getfirstletter(lone, 1), QString(QChar(0xD840)) + u"W"_s);

    // A supplementary letter upper-cases to its supplementary capital.
    const QString deseret = QString::fromUcs4(U"\U00010428");
    EXPECT_EQ(gf_getfirstletter(deseret, 1), QString::fromUcs4(U"\U00010400"));
}

// The rule computed straight from the system's GB2312 converter, independent of the
// generated table.
QChar initial_by_rule(unsigned code) {
    static const std::pair<unsigned, char16_t> rows[] = {
        {0xD4D1, 'z'}, {0xD1B9, 'y'}, {0xCEF4, 'x'}, {0xCDDA, 'w'}, {0xCBFA, 't'}, {0xC8F6, 's'},
        {0xC8BB, 'r'}, {0xC6DA, 'q'}, {0xC5BE, 'p'}, {0xC5B6, 'o'}, {0xC4C3, 'n'}, {0xC2E8, 'm'},
        {0xC0AC, 'l'}, {0xBFA6, 'k'}, {0xBBF7, 'j'}, {0xB9FE, 'h'}, {0xB8C1, 'g'}, {0xB7A2, 'f'},
        {0xB6EA, 'e'}, {0xB4EE, 'd'}, {0xB2C1, 'c'}, {0xB0C5, 'b'}, {0xB0A2, 'a'}};
    if (code < 0xB0A2 || code > 0xD7F9) return {};
    for (const auto& [boundary, initial] : rows)
        if (boundary <= code) return QChar(initial);
    return {};
}

TEST(gf_getfirstletter, every_first_level_character_agrees_with_the_system_converter) {
    QStringDecoder decoder("GB2312");
    ASSERT_TRUE(decoder.isValid());
    int checked = 0;
    for (unsigned code = 0xB0A1; code <= 0xD7F9; ++code) {
        const unsigned trail = code & 0xFF;
        if (trail < 0xA1 || trail > 0xFE) continue;
        const char bytes[] = {static_cast<char>(code >> 8), static_cast<char>(trail)};
        const QString ch = decoder.decode(QByteArrayView(bytes, 2));
        ASSERT_FALSE(decoder.hasError()) << std::hex << code;
        ASSERT_EQ(ch.size(), 1) << std::hex << code;
        const QChar want = initial_by_rule(code);
        EXPECT_EQ(gf_getfirstletter(ch), want.isNull() ? ch : QString(want))
            << std::hex << code << " U+" << unsigned(ch.at(0).unicode());
        ++checked;
    }
    EXPECT_EQ(checked, 3755);
}

TEST(gf_getfirstletter, every_other_bmp_character_is_kept) {
    QStringEncoder encoder("GB2312");
    ASSERT_TRUE(encoder.isValid());
    int replaced = 0;
    for (char32_t u = 0x80; u <= 0xFFFF; ++u) {
        if (QChar::isSurrogate(u)) continue;
        const QString ch(QChar(static_cast<char16_t>(u)));
        const QString got = gf_getfirstletter(ch);
        ASSERT_EQ(got.size(), 1);
        if (got == ch) continue;
        ++replaced;
        const QByteArray bytes = encoder.encode(ch);
        ASSERT_FALSE(encoder.hasError()) << "U+" << std::hex << unsigned(u);
        ASSERT_EQ(bytes.size(), 2) << "U+" << std::hex << unsigned(u);
        const unsigned code =
            static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1]);
        EXPECT_EQ(got, QString(initial_by_rule(code))) << "U+" << std::hex << unsigned(u);
    }
    EXPECT_EQ(replaced, 3754); // every first-level hanzi but 啊
}

} // namespace
