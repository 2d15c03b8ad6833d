// quillary_render_icon SVG NAME DIR SIZE...
// Draws SVG at each SIZE into DIR/SIZExSIZE/apps/NAME.png, the hicolor theme's layout, with Qt's own
// SVG renderer (the one the application draws its other pictures with). Run at build time.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fputs("usage: quillary_render_icon SVG NAME DIR SIZE...\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "quillary_render_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString name = QString::fromLocal8Bit(argv[2]);
    const QDir root(QString::fromLocal8Bit(argv[3]));
    for (int i = 4; i < argc; ++i) {
        bool isNumber = false;
        const int side = QString::fromLatin1(argv[i]).toInt(&isNumber);
        if (!isNumber || side <= 0) {
            std::fprintf(stderr, "quillary_render_icon: not a size: %s\n", argv[i]);
            return 2;
        }
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter, QRectF(0, 0, side, side));
        painter.end();

        const QString directory = QStringLiteral("%1x%1/apps").arg(side);
        const QString path = root.filePath(directory + u'/' + name + QStringLiteral(".png"));
        if (!root.mkpath(directory) || !image.save(path, "PNG")) {
            std::fprintf(stderr, "quillary_render_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
