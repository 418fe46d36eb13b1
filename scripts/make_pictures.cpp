// Draws the pictures in resources/pictures/ (run once by hand; the pictures are committed):
//   g++ -std=c++20 -fPIC scripts/make_pictures.cpp -o /tmp/make_pictures \
//       $(pkg-config --cflags --libs Qt6Gui)
//   (cd resources/pictures && QT_QPA_PLATFORM=offscreen /tmp/make_pictures)
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPen>
int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    {
        QImage img(1200, 48, QImage::Format_RGB32);
        QPainter p(&img);
        QLinearGradient g(0, 0, 0, 48);
        g.setColorAt(0, QColor(0x2f, 0x5d, 0x7c));
        g.setColorAt(0.55, QColor(0x4f, 0x86, 0xa6));
        g.setColorAt(1, QColor(0x6f, 0xa3, 0xbf));
        p.fillRect(img.rect(), g);
        p.setPen(QColor(255, 255, 255, 28));
        for (int x = -48; x < 1200; x += 14) p.drawLine(x, 48, x + 48, 0);
        p.end();
        img.save(QStringLiteral("bg_8.jpg"), "JPG", 90);
    }
    {
        QImage img(420, 62, QImage::Format_RGB32);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 420, 0);
        g.setColorAt(0, QColor(0x2f, 0x5d, 0x7c));
        g.setColorAt(1, QColor(0x6f, 0xa3, 0xbf));
        p.fillRect(img.rect(), g);
        QFont f(QStringLiteral("WenQuanYi Micro Hei"));
        f.setPixelSize(22);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(16, 6, 400, 30), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("青石坊文件搜索器"));
        f.setPixelSize(13);
        f.setBold(false);
        p.setFont(f);
        p.setPen(QColor(0xe8, 0xf1, 0xf6));
        p.drawText(QRect(16, 36, 400, 20), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("正在处理,请稍候... 按“停止”可随时中止"));
        p.end();
        img.save(QStringLiteral("8.jpg"), "JPG", 92);
    }
    {
        // Picture panel: a slot beyond the end of the list.
        QImage img(153, 187, QImage::Format_RGB32);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, 187);
        g.setColorAt(0, QColor(0xff, 0xe0, 0x6a));
        g.setColorAt(1, QColor(0xf5, 0x8a, 0x1f));
        p.fillRect(img.rect(), g);
        p.setPen(QPen(QColor(255, 255, 255, 150), 2));
        p.drawRect(img.rect().adjusted(4, 4, -5, -5));
        QFont f(QStringLiteral("WenQuanYi Micro Hei"));
        f.setPixelSize(30);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(0x7a, 0x3a, 0x05));
        p.drawText(img.rect(), Qt::AlignCenter, QStringLiteral("无文件"));
        p.end();
        img.save(QStringLiteral("nofile.jpg"), "JPG", 92);
    }
    {
        // Picture panel: a picture over 1 MB, not decoded.
        QImage img(124, 160, QImage::Format_RGB32);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(img.rect(), QColor(0xf2, 0xf2, 0xf2));
        p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 3));
        p.drawRect(img.rect().adjusted(2, 2, -3, -3));
        QFont f(QStringLiteral("WenQuanYi Micro Hei"));
        f.setPixelSize(22);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(0xc0, 0x39, 0x2b));
        p.drawText(QRect(0, 30, 124, 40), Qt::AlignCenter, QStringLiteral("图片过大"));
        p.setPen(QColor(0x40, 0x40, 0x40));
        p.drawText(QRect(0, 84, 124, 40), Qt::AlignCenter, QStringLiteral("不予显示"));
        p.end();
        img.save(QStringLiteral("p_sizelarge.jpg"), "JPG", 92);
    }
    {
        // The application's icon: a slate tile with the first character of the name, drawn
        // large enough for the biggest menu icon (the build scales it down).
        const int size = 256;
        const qreal k = size / 64.0;
        QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, size);
        g.setColorAt(0, QColor(0x4f, 0x86, 0xa6));
        g.setColorAt(1, QColor(0x2f, 0x5d, 0x7c));
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(2 * k, 2 * k, 60 * k, 60 * k), 12 * k, 12 * k);
        QFont f(QStringLiteral("WenQuanYi Micro Hei"));
        f.setPixelSize(int(40 * k));
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(img.rect(), Qt::AlignCenter, QStringLiteral("青"));
        p.end();
        img.save(QStringLiteral("app_icon.png"), "PNG");
    }
}
