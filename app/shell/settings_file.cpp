#include "app/shell/settings_file.h"

#include "app/shell/durable_save.h"

#include <QFile>
#include <QSaveFile>
#include <SimpleIni.h>
#include <limits>
#include <utility>
#include <vector>

namespace {

// The line splitting and trimming below follow the parser that reads the file, so that a
// write always lands on the entry a read finds.
bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_line_end(char c) {
    return c == '\r' || c == '\n';
}

QByteArrayView trimmed(QByteArrayView v) {
    while (!v.isEmpty() && is_blank(v.front())) v = v.sliced(1);
    while (!v.isEmpty() && is_blank(v.back())) v.chop(1);
    return v;
}

bool same_name(QByteArrayView a, QByteArrayView b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool storable_name(QStringView name, QChar forbidden) {
    if (name.isEmpty() || name.trimmed().size() != name.size()) return false;
    for (QChar c : name)
        if (c == u'\r' || c == u'\n' || c == u'\0' || c == forbidden) return false;
    return true;
}

struct line {
    qsizetype begin; // first byte
    qsizetype end;   // one past the last byte before the line end
    qsizetype next;  // one past the line end
};

std::vector<line> split_lines(const QByteArray& text, qsizetype from, qsizetype to) {
    std::vector<line> lines;
    qsizetype i = from;
    while (i < to) {
        const qsizetype begin = i;
        while (i < to && !is_line_end(text[i])) ++i;
        const qsizetype end = i;
        if (i < to) i += (text[i] == '\r' && i + 1 < to && text[i + 1] == '\n') ? 2 : 1;
        lines.push_back({begin, end, i});
    }
    return lines;
}

std::optional<int> leading_int(QByteArrayView v) {
    qsizetype i = 0;
    while (i < v.size() && is_blank(v[i])) ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    const qsizetype digits = i;
    long long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
    }
    if (i == digits) return std::nullopt;
    if (negative) n = -n;
    if (n > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(n);
}

constexpr QByteArrayView utf8_bom("\xEF\xBB\xBF", 3);

} // namespace

settings_file::settings_file(QString path) : path_(std::move(path)) {}

// Read afresh each time: the file is tiny and another window may just have written it.
std::optional<QByteArray> settings_file::read_value(QStringView section, QStringView key) const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    CSimpleIniA ini(/*utf8*/ true, /*multikey, so the first of twin keys wins*/ true);
    if (ini.LoadData(bytes.constData(), static_cast<size_t>(bytes.size())) < 0) return std::nullopt;
    const char* value =
        ini.GetValue(section.toUtf8().constData(), key.toUtf8().constData(), nullptr);
    if (!value) return std::nullopt;
    return QByteArray(value);
}

int settings_file::read_int(QStringView section, QStringView key, int default_value) const {
    const auto value = read_value(section, key);
    if (!value) return default_value;
    return leading_int(*value).value_or(default_value);
}

QString settings_file::read_string(QStringView section, QStringView key,
                                   const QString& default_value) const {
    const auto value = read_value(section, key);
    return value ? QString::fromUtf8(*value) : default_value;
}

bool settings_file::write(QStringView section, QStringView key, QStringView value) {
    if (!storable_name(section, u']') || !storable_name(key, u'=')) return false;
    if (key.front() == u'[' || key.front() == u';' || key.front() == u'#') return false;
    for (QChar c : value)
        if (c == u'\r' || c == u'\n' || c == u'\0') return false;

    QByteArray text;
    {
        QFile old(path_);
        if (old.exists()) {
            // Never replace a file we could not read: its other settings would be lost.
            if (!old.open(QIODevice::ReadOnly)) return false;
            text = old.readAll();
            if (old.error() != QFileDevice::NoError) return false;
        }
    }

    const QByteArray section8 = section.toUtf8();
    const QByteArray key8 = key.toUtf8();
    const QByteArray value8 = value.toUtf8();
    const qsizetype start = text.startsWith(utf8_bom) ? utf8_bom.size() : 0;
    // The reader stops at a NUL byte; whatever follows is kept but never matched.
    const qsizetype stop = text.indexOf('\0') < 0 ? text.size() : text.indexOf('\0');

    QByteArray eol;
    if (const qsizetype e = text.indexOf('\n'); e > 0 && text[e - 1] == '\r') {
        eol = "\r\n";
    } else if (e >= 0) {
        eol = "\n";
    } else {
#ifdef Q_OS_WIN
        eol = "\r\n";
#else
        eol = "\n";
#endif
    }

    // Find the first entry of the key in any block of the section (twin sections read as
    // one), and where the first block of the section ends.
    bool in_section = false;
    bool section_seen = false;
    qsizetype insert_at = -1; // after the last entry line of the first block
    bool insert_needs_eol = false;
    qsizetype replace_from = -1, replace_to = -1;
    for (const line& l : split_lines(text, start, stop)) {
        const QByteArrayView body = QByteArrayView(text).sliced(l.begin, l.end - l.begin);
        const QByteArrayView t = trimmed(body);
        if (t.isEmpty() || t.front() == ';' || t.front() == '#') continue;
        if (t.front() == '[') {
            const qsizetype close = t.indexOf(']');
            if (close < 0) continue;
            const bool was_first_block = in_section && !section_seen;
            if (was_first_block) section_seen = true;
            in_section = same_name(trimmed(t.sliced(1, close - 1)), section8);
            if (in_section && !section_seen && insert_at < 0) {
                insert_at = l.next;
                insert_needs_eol = l.next == l.end;
            }
            continue;
        }
        const qsizetype eq = body.indexOf('=');
        if (eq < 0 || !in_section) continue;
        const QByteArrayView name = trimmed(body.first(eq));
        if (name.isEmpty()) continue;
        if (same_name(name, key8)) {
            qsizetype v = l.begin + eq + 1;
            while (v < l.end && is_blank(text[v])) ++v;
            replace_from = v;
            replace_to = l.end;
            break;
        }
        if (!section_seen) {
            insert_at = l.next;
            insert_needs_eol = l.next == l.end;
        }
    }

    if (replace_from >= 0) {
        text.replace(replace_from, replace_to - replace_from, value8);
    } else if (insert_at >= 0) {
        const QByteArray entry = key8 + '=' + value8 + eol;
        text.insert(insert_at, insert_needs_eol ? eol + entry : entry);
    } else {
        QByteArray block = '[' + section8 + ']' + eol + key8 + '=' + value8 + eol;
        if (stop > start && !is_line_end(text[stop - 1])) block.prepend(eol);
        text.insert(stop, block);
    }

    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly)) return false;
    if (out.write(text) != text.size()) {
        out.cancelWriting();
        return false;
    }
    return durable_commit(out);
}
