#include "search/language/filter_language.h"

QString filter_escape(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        out.append(c);
        if (c == QLatin1Char('\'')) out.append(c);
    }
    return out;
}
