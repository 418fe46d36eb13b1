#include "search/language/gf_getfirstletter.h"

#include <QChar>

namespace {
#include "search/language/gb2312_initials.inc"

static_assert(sizeof(gb2312_initials) == gb2312_initials_last - gb2312_initials_first + 2);

// Simple (one-to-one) case mapping, so that e.g. U+00DF does not grow into "SS" and
// the one-unit-per-unit promise holds.
void to_upper_in_place(QString& text) {
    char16_t* p = reinterpret_cast<char16_t*>(text.data());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = p[i];
        if (u < 0x80) {
            if (u >= 'a' && u <= 'z') p[i] = static_cast<char16_t>(u - ('a' - 'A'));
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            const char32_t up = QChar::toUpper(QChar::surrogateToUcs4(u, p[i + 1]));
            if (QChar::requiresSurrogates(up)) {
                p[i] = QChar::highSurrogate(up);
                p[i + 1] = QChar::lowSurrogate(up);
            }
            ++i;
        } else if (!QChar::isSurrogate(u)) {
            const char32_t up = QChar::toUpper(char32_t{u});
            if (up <= 0xFFFF && !QChar::isSurrogate(up)) p[i] = static_cast<char16_t>(up);
        }
    }
}
} // namespace

QString gf_getfirstletter(QStringView as_inputstring, int upper) {
    QString result(as_inputstring.size(), Qt::Uninitialized);
    gf_getfirstletter_into(as_inputstring, upper, result);
    return result;
}

void gf_getfirstletter_into(QStringView as_inputstring, int upper, QString& out) {
    const qsizetype n = as_inputstring.size();
    const char16_t* in = as_inputstring.utf16();
    out.resize(n);
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = in[i];
        char16_t c = u;
        if (u >= gb2312_initials_first && u <= gb2312_initials_last) {
            const char initial = gb2312_initials[u - gb2312_initials_first];
            if (initial != gb2312_initials_keep) c = static_cast<char16_t>(initial);
        }
        to[i] = c;
    }
    if (upper != 0) to_upper_in_place(out);
}
