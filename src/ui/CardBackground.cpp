#include "ui/CardBackground.h"

#include "platform/WindowHints.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>

namespace quillary {

void paintCardBackground(QPainter& painter, const QRectF& rect, bool backdropBlurred)
{
    const QColor fill = backdropBlurred ? QColor::fromRgbF(0.12f, 0.12f, 0.13f, 0.62f)
                                        : QColor::fromRgbF(0.118f, 0.118f, 0.125f, 0.82f);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(rect, kCardCornerRadius, kCardCornerRadius);
    // A 1-pixel stroke centred on the edge would lose its outer half; inset it by half a pixel.
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.10f), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), kCardCornerRadius - 0.5,
                            kCardCornerRadius - 0.5);
    painter.restore();
}

bool requestBlurBehind(QWidget* window, qreal cornerRadius)
{
    if (!window)
        return false;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(window->size())), cornerRadius, cornerRadius);
    return setBlurBehind(*window, shape);
}

} // namespace quillary
