#pragma once
// Types text into a widget key by key, as a user (or an input method) would.
#include <QString>

class QWidget;

void type_text(QWidget* widget, const QString& text);
