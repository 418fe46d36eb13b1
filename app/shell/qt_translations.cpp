#include "app/shell/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool load_qt_chinese_translations(QCoreApplication& app) {
    // Owned by the application so it lives as long as any dialog that reads it.
    auto* translator = new QTranslator(&app);
    // qt_zh_CN pulls in the catalogues of every Qt module that has one (base, multimedia).
    if (!translator->load(QStringLiteral("qt_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
