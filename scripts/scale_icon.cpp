// Writes the application icon at the sizes of the hicolor icon theme, run by the build:
//   scale_icon SOURCE.png OUTDIR NAME SIZE...  ->  OUTDIR/SIZExSIZE/apps/NAME.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: scale_icon SOURCE OUTDIR NAME SIZE...\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "scale_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int i = 4; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        const QImage icon =
            source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (size <= 0 || !QDir().mkpath(folder) ||
            !icon.save(folder + u'/' + QString::fromLocal8Bit(argv[3]) + u".png", "PNG")) {
            std::fprintf(stderr, "scale_icon: cannot write size %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
