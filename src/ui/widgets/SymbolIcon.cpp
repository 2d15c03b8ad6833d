#include "ui/widgets/SymbolIcon.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The drawings live in a static library: without a reference the linker drops them.
static void initSymbolResources()
{
    Q_INIT_RESOURCE(symbols);
}

namespace quillary {
namespace {

QString resourceFor(const QString& name)
{
    static const bool loaded = (initSymbolResources(), true);
    Q_UNUSED(loaded);
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

} // namespace

bool hasSymbol(const QString& name)
{
    return QFile::exists(resourceFor(name));
}

QIcon symbolIcon(const QString& name, const QColor& color, int side)
{
    if (!hasSymbol(name))
        return {};
    QSvgRenderer renderer(resourceFor(name));
    if (!renderer.isValid())
        return {};
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(QSize(side, side) * ratio);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            // Fit the drawing into the square, keeping its proportions.
            QSizeF size = renderer.defaultSize();
            size.scale(pixmap.size(), Qt::KeepAspectRatio);
            const QRectF target(
                QPointF((pixmap.width() - size.width()) / 2, (pixmap.height() - size.height()) / 2), size);
            renderer.render(&painter, target);
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), color);
        }
        pixmap.setDevicePixelRatio(ratio);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace quillary
