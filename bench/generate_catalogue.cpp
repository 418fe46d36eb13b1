// Writes a synthetic catalogue file: generate_catalogue OUT [RECORDS] [--utf8-names FILE]
//
// Chinese names with Traditional, polyphonic and rare characters mixed in, Latin names,
// numbered and plain, runs of files in nested folders, in the program's file format (UTF-16LE
// with a mark, CR LF, heading line, nine TAB-separated fields); fast enough for ten million
// records: one pass, text built straight into large UTF-16 blocks. With --utf8-names the
// filenamewithno and pinyinma columns also go to a UTF-8 file for text-search tools.
#include "search/language/gf_getfirstletter.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::u16string_view hanzi =
    u"我的爱人你是心中月亮花开太阳天空大海小城故事朋友回家时间青春梦想快乐伤心雨夜星光"
    u"思念远方草原春天秋风情歌红豆明天相信未来美丽世界一生等待离别温柔眼泪童年老街山河"
    u"长江白云飞鸟江南烟雨父亲母亲姑娘少年征程千里故乡歌声灯火";
// Mixed into names: Traditional characters, polyphones whose readings differ in their
// initial, and rare ideographs of extensions A and B (one or two code units each).
constexpr std::array<std::u16string_view, 41> mixed{
    u"愛", u"後", u"來", u"聽", u"海", u"茉", u"莉", u"阙", u"歌", u"燈", u"話",
    u"說", u"夢", u"樂", u"長", u"經", u"飛", u"鳥", u"雲", u"乐", u"长", u"行",
    u"重", u"朝", u"觉", u"传", u"藏", u"会", u"还", u"和", u"曲", u"便", u"将",
    u"调", u"㐀", u"㑇", u"㒳", u"𠀀", u"𠀁", u"𠂉", u"𠃌"};
constexpr std::array<std::u16string_view, 20> latin{
    u"love",   u"song", u"night", u"dream", u"rain", u"star",  u"heart", u"road", u"home", u"blue",
    u"summer", u"fire", u"dance", u"river", u"moon", u"light", u"remix", u"live", u"DJ",   u"MTV"};
constexpr std::array<std::u16string_view, 26> extensions{
    u".mp3", u".mp3", u".mp3", u".mp3", u".mp3", u".mp3",  u".mp3", u".mp3", u".mp3",
    u".mp3", u".mp3", u".mp3", u".wma", u".wma", u".wma",  u".mp4", u".mp4", u".mp4",
    u".jpg", u".jpg", u".jpg", u".jpg", u".avi", u".rmvb", u".3gp", u".gif"};

// xoshiro256**: fast, and the same stream on every machine.
struct random_stream {
    std::uint64_t s[4];
    explicit random_stream(std::uint64_t seed) {
        for (auto& v : s) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            v = z ^ (z >> 31);
        }
    }
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t next() {
        const std::uint64_t r = rotl(s[1] * 5, 7) * 9;
        const std::uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return r;
    }
    // In [lo, hi], both included.
    int between(int lo, int hi) {
        return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

void append_number(std::u16string& out, long long v, int width = 0) {
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%0*lld", width, v);
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(digits[i]));
}

void append_utf8(std::string& out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t u = text[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size()) // a pair: one character
            u = 0x10000 + ((u - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else if (u < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (u >> 18)));
            out.push_back(static_cast<char>(0x80 | ((u >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
}

bool write_all(std::FILE* f, const void* data, std::size_t bytes) {
    return std::fwrite(data, 1, bytes, f) == bytes;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    const char* utf8_path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--utf8-names") == 0 && i + 1 < argc)
            utf8_path = argv[++i];
        else
            args.emplace_back(argv[i]);
    }
    if (args.empty()) {
        std::fprintf(stderr, "usage: generate_catalogue OUT [RECORDS] [--utf8-names FILE]\n");
        return 2;
    }
    const long long count = args.size() > 1 ? std::atoll(args[1].c_str()) : 1'000'000;

    // Initials of each character, computed once by the program's own rule.
    std::array<char16_t, 0x10000> initial{};
    for (const char16_t c : hanzi)
        initial[c] = gf_getfirstletter(QStringView(&c, 1)).at(0).unicode();
    for (const std::u16string_view m : mixed)
        if (m.size() == 1)
            initial[m[0]] = gf_getfirstletter(QStringView(m.data(), 1)).at(0).unicode();

    random_stream rnd(20261208);
    std::vector<std::u16string> folders;
    for (int disk = 1; disk <= 3; ++disk)
        for (const std::u16string_view top : {u"##歌曲", u"##电影", u"##图片", u"music"})
            for (int artist = 0; artist < 60; ++artist) {
                std::u16string f = u"/media/disk";
                append_number(f, disk);
                f += u'/';
                f += top;
                f += u'/';
                const int n = rnd.between(2, 3);
                for (int k = 0; k < n; ++k)
                    f += hanzi[static_cast<std::size_t>(rnd.between(0, hanzi.size() - 1))];
                append_number(f, artist);
                f += u'/';
                folders.push_back(std::move(f));
            }

    std::FILE* out = std::fopen(args[0].c_str(), "wb");
    std::FILE* names = utf8_path ? std::fopen(utf8_path, "wb") : nullptr;
    if (!out || (utf8_path && !names)) {
        std::fprintf(stderr, "cannot write the output\n");
        return 1;
    }
    std::u16string block = u"\uFEFFmachineid\tfilename\tfileext\tcreatedate\tfilepath\tpinyinma\t"
                           u"filesizedec\tsourceid\tfilenamewithno\r\n";
    std::string utf8;
    std::u16string name, withno, pinyin;
    const std::u16string* folder = &folders[static_cast<std::size_t>(rnd.between(0, 719))];
    bool ok = true;
    for (long long i = 1; i <= count && ok; ++i) {
        if (rnd.unit() < 0.05) folder = &folders[static_cast<std::size_t>(rnd.between(0, 719))];
        name.clear();
        if (rnd.unit() < 0.7) {
            const int n = rnd.between(2, 8);
            for (int k = 0; k < n; ++k)
                if (rnd.unit() < 0.15)
                    name += mixed[static_cast<std::size_t>(rnd.between(0, mixed.size() - 1))];
                else
                    name += hanzi[static_cast<std::size_t>(rnd.between(0, hanzi.size() - 1))];
            if (rnd.unit() < 0.3) {
                name += u' ';
                name += latin[static_cast<std::size_t>(rnd.between(0, latin.size() - 1))];
            }
        } else {
            const int n = rnd.between(1, 4);
            for (int k = 0; k < n; ++k) {
                if (k > 0) name += u' ';
                name += latin[static_cast<std::size_t>(rnd.between(0, latin.size() - 1))];
            }
        }
        long long number = 0;
        withno.clear();
        if (rnd.unit() < 0.6) {
            number = rnd.between(1, 99999);
            append_number(withno, number);
            withno += u'@';
        }
        withno += name;
        const std::u16string_view ext = extensions[rnd.next() % extensions.size()];
        const long long size_cents =
            std::llround(static_cast<double>(rnd.between(0, 800 * 1048576)) / 1048576.0 * 100.0);
        pinyin.clear();
        for (const char16_t c : name) pinyin += initial[c] ? initial[c] : c;

        append_number(block, i);
        block += u'\t';
        block += name;
        block += u'\t';
        block += ext;
        block += u'\t';
        append_number(block, rnd.between(2005, 2026), 4);
        block += u'-';
        append_number(block, rnd.between(1, 12), 2);
        block += u'-';
        append_number(block, rnd.between(1, 28), 2);
        block += u' ';
        append_number(block, rnd.between(0, 23), 2);
        block += u':';
        append_number(block, rnd.between(0, 59), 2);
        block += u':';
        append_number(block, rnd.between(0, 59), 2);
        block += u'\t';
        block += *folder;
        block += withno;
        block += ext;
        block += u'\t';
        block += pinyin;
        block += u'\t';
        append_number(block, size_cents / 100);
        block += u'.';
        append_number(block, size_cents % 100, 2);
        block += u'\t';
        append_number(block, number);
        block += u'\t';
        block += withno;
        block += u"\r\n";
        if (names) {
            append_utf8(utf8, withno);
            utf8 += '\t';
            append_utf8(utf8, pinyin);
            utf8 += '\n';
        }
        if (block.size() >= (1u << 22) || i == count) {
            // The file is little-endian UTF-16 whatever the machine.
            if constexpr (std::endian::native == std::endian::big)
                for (char16_t& u : block) u = static_cast<char16_t>((u >> 8) | (u << 8));
            ok = write_all(out, block.data(), block.size() * sizeof(char16_t));
            block.clear();
            if (names) {
                ok = ok && write_all(names, utf8.data(), utf8.size());
                utf8.clear();
            }
        }
    }
    if (!block.empty()) ok = ok && write_all(out, block.data(), block.size() * sizeof(char16_t));
    ok = std::fclose(out) == 0 && ok;
    if (names) ok = std::fclose(names) == 0 && ok;
    if (!ok) std::fprintf(stderr, "writing failed\n");
    return ok ? 0 : 1;
}
