#pragma once
// Qt's own Chinese texts (standard buttons, the folder chooser, message boxes), loaded
// whatever the user's locale is, since every other text of the program is Chinese too.
// They come from the system's Qt translations folder; a missing file leaves English texts.
class QCoreApplication;

// Installs the translator on `app`; false when the translation file could not be loaded.
bool load_qt_chinese_translations(QCoreApplication& app);
