#include "catalogue/core/native_names.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <cstring>
#include <sys/stat.h>

namespace {

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Strict UTF-8 to UTF-16. A byte that does not start a valid sequence becomes U+FFFD.
name_decoding decode_utf8(const unsigned char* s, char16_t* out, std::size_t capacity) {
    std::size_t n = 0;
    name_decoding result = name_decoding::utf8;
    auto put = [&](char16_t u) {
        if (n + 1 < capacity)
            out[n++] = u;
        else if (result == name_decoding::utf8)
            result = name_decoding::too_long;
    };
    while (*s) {
        const unsigned char c = *s;
        if (c < 0x80) {
            put(c);
            ++s;
            continue;
        }
        char32_t cp = 0;
        int len = 0;
        if (c >= 0xC2 && c <= 0xDF && is_continuation(s[1])) {
            cp = ((c & 0x1Fu) << 6) | (s[1] & 0x3Fu);
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF && is_continuation(s[1]) && is_continuation(s[2])) {
            cp = ((c & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) len = 3;
        } else if (c >= 0xF0 && c <= 0xF4 && is_continuation(s[1]) && is_continuation(s[2]) &&
                   is_continuation(s[3])) {
            cp = ((c & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) |
                 (s[3] & 0x3Fu);
            if (cp >= 0x10000 && cp <= 0x10FFFF) len = 4;
        }
        if (len == 0) {
            result = name_decoding::undecodable;
            put(u'\uFFFD');
            ++s;
            continue;
        }
        if (cp >= 0x10000) {
            put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
        s += len;
    }
    out[n] = 0;
    return result;
}

QByteArray gb18030_bytes(QStringView text) {
    QStringEncoder encoder("GB18030", QStringEncoder::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    return encoder.hasError() ? QByteArray() : bytes;
}

} // namespace

name_decoding decode_native_name(const char* name, char16_t* out, std::size_t capacity) {
    if (capacity == 0) return name_decoding::too_long;
    const name_decoding as_utf8 =
        decode_utf8(reinterpret_cast<const unsigned char*>(name), out, capacity);
    if (as_utf8 == name_decoding::utf8)
        return out[0] == gb18030_name_mark ? name_decoding::undecodable : as_utf8;
    if (as_utf8 == name_decoding::too_long) return as_utf8;

    const QByteArrayView bytes(name, static_cast<qsizetype>(std::strlen(name)));
    QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    // Only a name that comes back to the same bytes can be reached again.
    if (decoder.hasError() || text.isEmpty() || text.contains(QChar::ReplacementCharacter) ||
        text.contains(QChar(0)) || gb18030_bytes(text) != bytes)
        return name_decoding::undecodable;
    // The mark goes into paths, not into the name; it must fit there too.
    if (static_cast<std::size_t>(text.size()) + 2 > capacity) return name_decoding::too_long;
    std::memcpy(out, text.utf16(), static_cast<std::size_t>(text.size()) * sizeof(char16_t));
    out[text.size()] = 0;
    return name_decoding::gb18030;
}

QByteArray native_path(QStringView path) {
    if (!path.contains(gb18030_name_mark)) return path.toUtf8();
    QByteArray out;
    qsizetype start = 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf(u'/', start);
        if (end < 0) end = path.size();
        const QStringView part = path.mid(start, end - start);
        if (part.startsWith(gb18030_name_mark))
            out += gb18030_bytes(part.mid(1));
        else
            out += part.toUtf8();
        if (end < path.size()) out += '/';
        start = end + 1;
    }
    return out;
}

QString shown_path(QStringView path) {
    QString out = path.toString();
    out.remove(gb18030_name_mark);
    return out;
}

QUrl native_file_url(QStringView path) {
    if (!path.contains(gb18030_name_mark)) return QUrl::fromLocalFile(path.toString());
    return QUrl::fromEncoded("file://" + native_path(path).toPercentEncoding("/"),
                             QUrl::StrictMode);
}

bool native_is_file(QStringView path) {
    struct stat st;
    return !path.isEmpty() && ::stat(native_path(path).constData(), &st) == 0 &&
           S_ISREG(st.st_mode);
}
