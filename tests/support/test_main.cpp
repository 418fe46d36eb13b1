// Every test program starts here: a private home and caches so nothing is written
// outside a temporary folder, windows drawn offscreen, and permissions that bind root too.
#include "tests/support/permission_checks.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
    drop_permission_override();
    QTemporaryDir home;
    const QByteArray h = home.path().toLocal8Bit();
    ::setenv("HOME", h.constData(), 1);
    ::setenv("XDG_CACHE_HOME", QByteArray(h + "/.cache").constData(), 1);
    ::setenv("XDG_CONFIG_HOME", QByteArray(h + "/.config").constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", QByteArray(h + "/runtime").constData(), 1);
    QDir(home.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QT_MEDIA_BACKEND", "gstreamer", 0);

    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
