// Renders the program's scalable icon into the PNG sizes a desktop's icon theme looks for:
//   make_icons ICON.svg OUTPUT_FOLDER   writes OUTPUT_FOLDER/<N>x<N>/apps/corvane.png

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icons ICON.svg OUTPUT_FOLDER\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "make_icons: %s is not an SVG image\n", argv[1]);
        return 1;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        if (!QDir().mkpath(folder) || !image.save(folder + QStringLiteral("/corvane.png"))) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
