#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QRect>
#include <QWidget>

namespace quillary {

// The toast's content: a dark translucent capsule with a thin light outline and a soft shadow,
// holding the clipboard symbol and "Saved to ClipBoard Folder" centred on one row. The capsule and
// its shadow stay inside the widget, so the widget can fill a fixed-size translucent window.
class CopiedToastView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int horizontalPadding = 16;
    static constexpr int verticalPadding = 10;
    static constexpr int spacing = 10;
    static constexpr int minimumCapsuleWidth = 240;
    static constexpr int iconSize = 18;
    static constexpr int textPixelSize = 13;
    static constexpr QColor iconColor{0x0a, 0x84, 0xff};
    static constexpr int shadowBlurRadius = 4;
    static constexpr QPoint shadowOffset{0, 2};

    explicit CopiedToastView(QWidget* parent = nullptr);

    static QString message();

    // The capsule's outline in this widget's coordinates, for the window's blur-behind region.
    QPainterPath capsulePath() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout {
        QRectF capsule;
        QRect iconRect;
        QRect labelRect;
        QFont font;
        QString label;
    };

    Layout computeLayout() const;
    const QImage& tintedIcon(qreal devicePixelRatio);

    QImage m_icon;
};

} // namespace quillary
