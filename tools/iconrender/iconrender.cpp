// Renders the application's SVG icon to the PNG sizes a desktop menu looks for.
// Usage: iconrender IN.svg OUT_DIR SIZE... -> OUT_DIR/SIZExSIZE.png; a SIZE of WxH renders
// a picture that is not square.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: iconrender IN.svg OUT_DIR SIZE...\n");
        return 64;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "iconrender: %s is not a valid SVG\n", argv[1]);
        return 65;
    }
    for (int i = 3; i < argc; ++i) {
        const QString spec = QString::fromLatin1(argv[i]);
        const QStringList sides = spec.split(QLatin1Char('x'));
        const int width = sides.first().toInt();
        const int height = sides.size() > 1 ? sides.last().toInt() : width;
        if (width <= 0 || height <= 0 || sides.size() > 2) {
            std::fprintf(stderr, "iconrender: %s is not a size\n", argv[i]);
            return 64;
        }
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString out =
            QString("%1/%2x%3.png").arg(QString::fromLocal8Bit(argv[2])).arg(width).arg(height);
        if (!image.save(out)) {
            std::fprintf(stderr, "iconrender: cannot write %s\n", qPrintable(out));
            return 74;
        }
    }
    return 0;
}
