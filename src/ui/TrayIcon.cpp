#include "ui/TrayIcon.h"

#include <QDebug>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <map>

// The icons live in a static library: without a reference the linker drops them.
static void initTrayResources()
{
    Q_INIT_RESOURCE(ui);
}

namespace quillary {
namespace {

const QColor badgeColor(0xe5, 0x37, 0x2c);

QImage renderViewfinder(int size, bool darkPanel)
{
    QImageReader reader(darkPanel ? QStringLiteral(":/icons/tray-viewfinder-dark.svg")
                                  : QStringLiteral(":/icons/tray-viewfinder-light.svg"));
    reader.setScaledSize(QSize(size, size));
    QImage image = reader.read();
    if (image.isNull()) {
        // Without the SVG image plugin (libqt6svg6) nothing can be drawn: say so, show a blank.
        qWarning("Tray icon not drawn: %s", qPrintable(reader.errorString()));
        image = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The glyph drawn for the panel colour the session suggests, over a thin halo in the opposite
// colour, so that it stays legible when the guess is wrong (panels rarely tell their colour).
QImage renderOutlinedViewfinder(int size, bool darkPanel)
{
    const QImage glyph = renderViewfinder(size, darkPanel);
    const QImage halo = renderViewfinder(size, !darkPanel);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const int reach = std::max(1, size / 22);
    painter.setOpacity(0.45);
    for (int dx = -reach; dx <= reach; dx += reach) {
        for (int dy = -reach; dy <= reach; dy += reach) {
            if (dx != 0 || dy != 0)
                painter.drawImage(QPoint(dx, dy), halo);
        }
    }
    painter.setOpacity(1.0);
    painter.drawImage(QPoint(0, 0), glyph);
    return image;
}

// A pill at the lower right, round for one digit; a transparent ring around it parts it from the
// strokes beneath on any panel colour.
void paintBadge(QImage& image, int count)
{
    const qreal size = image.width();
    const QString digits = QString::number(std::min(count, trayBadgeMaximum));
    const qreal height = std::round(size * 0.6);
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(6, static_cast<int>(std::lround(height * 0.72))));
    const QFontMetricsF metrics(font);
    const QRectF ink = metrics.tightBoundingRect(digits);
    const qreal width = std::min(size, std::max(height, ink.width() + height * 0.45));
    const QRectF badge(size - width, size - height, width, height);
    const qreal ring = std::max(1.0, size / 22.0);

    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.setPen(Qt::NoPen);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    const QRectF cleared = badge.adjusted(-ring, -ring, ring, ring);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(cleared, cleared.height() / 2, cleared.height() / 2);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setBrush(badgeColor);
    painter.drawRoundedRect(badge, height / 2, height / 2);

    // Centre the digits' ink, not their line box, so they sit visually in the middle.
    const QPointF baseline(badge.center().x() - ink.center().x(), badge.center().y() - ink.center().y());
    QPainterPath text;
    text.addText(baseline, font, digits);
    painter.setBrush(Qt::white);
    painter.drawPath(text);
}

} // namespace

QIcon makeTrayIcon(int pendingCount, bool darkPanel)
{
    initTrayResources();
    // The glyphs are drawn once per panel colour; every change of the count only paints a badge.
    // (Main thread only, like every icon.)
    static std::map<std::pair<int, bool>, QImage> glyphs;
    QIcon icon;
    for (const int size : trayIconSizes) {
        QImage& glyph = glyphs[{size, darkPanel}];
        if (glyph.isNull())
            glyph = renderOutlinedViewfinder(size, darkPanel);
        QImage image = glyph.copy();
        if (pendingCount > 0)
            paintBadge(image, pendingCount);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace quillary
