#include "app/main/quellmarkapp.h"
#include "app/main/single_instance.h"
#include "app/main/w_main.h"
#include "app/shell/program_folder.h"
#include "app/shell/qt_translations.h"
#include "app/shell/user_prompts.h"

#include <QApplication>
#include <QStandardPaths>

#ifndef QM_INSTALLED_BIN_DIR
#define QM_INSTALLED_BIN_DIR ""
#endif

int quellmarkapp::run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quellmarkapp"));
    // The desktop entry's name, so task bars group the window under it.
    QGuiApplication::setDesktopFileName(QStringLiteral("quellmark"));
    // Qt's own dialogs carry the Chinese texts; a desktop's native ones would follow its locale.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    load_qt_chinese_translations(app);

    const bool installed = runs_installed(QCoreApplication::applicationDirPath(),
                                          QStringLiteral(QM_INSTALLED_BIN_DIR));
    const QString folder = choose_program_folder(installed);
    if (folder.isEmpty()) {
        prompts().message(
            nullptr, QStringLiteral("提示"),
            QStringLiteral("无法建立程序文件夹:\n%1")
                .arg(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
        return 1;
    }
    single_instance instance(
        instance_folder(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), folder),
        folder);
    if (!instance.is_first()) {
        if (instance.ask_first_to_raise()) return 0;
        // The first one holds the lock but did not answer in time: say so, start no second one.
        prompts().message(nullptr, QStringLiteral("提示"),
                          QStringLiteral("青石坊文件搜索器已在运行。"));
        return 1;
    }

    w_main window;
    QObject::connect(&instance, &single_instance::raise_requested, &window, [&window] {
        window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window.show();
        window.raise();
        window.activateWindow();
    });
    window.showMaximized();
    window.open_event(folder);
    return QApplication::exec();
}
