#pragma once
#include <QString>
#include <QStringView>

// Pinyin initials of a text: every first-level GB2312 hanzi becomes the initial of its
// pinyin, every other character (and each half of a surrogate pair) is kept, so the
// result has exactly as many UTF-16 units as the input. upper != 0 upper-cases the
// whole result, input letters included.
QString gf_getfirstletter(QStringView as_inputstring, int upper = 0);
// The same into `out`, whose memory is reused: a scan makes initials for every file.
void gf_getfirstletter_into(QStringView as_inputstring, int upper, QString& out);
