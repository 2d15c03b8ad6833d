#include "ui/CopiedToastView.h"

#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>

// The icons live in a static library: without a reference the linker drops them.
static void initUiResources()
{
    Q_INIT_RESOURCE(ui);
}

namespace quillary {
namespace {

// The design's 13 pt are 72-dpi points, i.e. logical pixels; Qt's 96-dpi points would make 17 px
// text that cannot fit the fixed 260 px panel. Fonts wider than the design's shrink down to this.
constexpr int smallestTextPixelSize = 10;

const QColor capsuleFill(28, 28, 30, 214);
const QColor capsuleOutline(255, 255, 255, 26);
const QColor textColor(Qt::white);
constexpr qreal outlineWidth = 0.5;

} // namespace

CopiedToastView::CopiedToastView(QWidget* parent)
    : QWidget(parent)
{
    initUiResources();
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 51));
    shadow->setBlurRadius(shadowBlurRadius);
    shadow->setOffset(shadowOffset);
    setGraphicsEffect(shadow);
}

QString CopiedToastView::message()
{
    return QStringLiteral("Saved to ClipBoard Folder");
}

QPainterPath CopiedToastView::capsulePath() const
{
    const QRectF capsule = computeLayout().capsule;
    QPainterPath path;
    path.addRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    return path;
}

CopiedToastView::Layout CopiedToastView::computeLayout() const
{
    // The shadow reaches blur radius around the capsule, shifted by its offset; keep it all inside.
    const QRect room =
        rect().adjusted(shadowBlurRadius - shadowOffset.x(), shadowBlurRadius - shadowOffset.y(),
                        -(shadowBlurRadius + shadowOffset.x()), -(shadowBlurRadius + shadowOffset.y()));
    const int maxLabelWidth = room.width() - 2 * horizontalPadding - iconSize - spacing;

    Layout layout;
    layout.font = font();
    layout.font.setWeight(QFont::DemiBold);
    layout.font.setPixelSize(textPixelSize);
    int labelWidth = QFontMetrics(layout.font).horizontalAdvance(message());
    while (labelWidth > maxLabelWidth && layout.font.pixelSize() > smallestTextPixelSize) {
        layout.font.setPixelSize(layout.font.pixelSize() - 1);
        labelWidth = QFontMetrics(layout.font).horizontalAdvance(message());
    }
    const QFontMetrics metrics(layout.font);
    layout.label = metrics.elidedText(message(), Qt::ElideRight, std::max(maxLabelWidth, 0));
    labelWidth = std::min(labelWidth, std::max(maxLabelWidth, 0));

    const int contentWidth = iconSize + spacing + labelWidth;
    const int contentHeight = std::max(iconSize, metrics.height());
    const int capsuleWidth =
        std::min(std::max(minimumCapsuleWidth, contentWidth + 2 * horizontalPadding), room.width());
    const int capsuleHeight = std::min(contentHeight + 2 * verticalPadding, room.height());
    const QRect capsule(room.x() + (room.width() - capsuleWidth) / 2,
                        room.y() + (room.height() - capsuleHeight) / 2, capsuleWidth, capsuleHeight);
    layout.capsule = capsule;

    const int left = capsule.x() + (capsule.width() - contentWidth) / 2;
    const int middle = capsule.y() + capsule.height() / 2;
    layout.iconRect = QRect(left, middle - iconSize / 2, iconSize, iconSize);
    layout.labelRect = QRect(left + iconSize + spacing, capsule.y(), labelWidth, capsule.height());
    return layout;
}

const QImage& CopiedToastView::tintedIcon(qreal devicePixelRatio)
{
    if (!m_icon.isNull() && qFuzzyCompare(m_icon.devicePixelRatio(), devicePixelRatio))
        return m_icon;
    const int pixels = static_cast<int>(std::lround(iconSize * devicePixelRatio));
    QImageReader reader(QStringLiteral(":/icons/doc-on-clipboard-fill.svg"));
    reader.setScaledSize(QSize(pixels, pixels));
    QImage icon = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (!icon.isNull()) {
        // The symbol is a black template: keep its coverage, take the colour.
        QPainter painter(&icon);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(icon.rect(), iconColor);
    }
    icon.setDevicePixelRatio(devicePixelRatio);
    m_icon = icon;
    return m_icon;
}

void CopiedToastView::paintEvent(QPaintEvent*)
{
    const Layout layout = computeLayout();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath capsule;
    capsule.addRoundedRect(layout.capsule, layout.capsule.height() / 2, layout.capsule.height() / 2);
    painter.fillPath(capsule, capsuleFill);
    // The outline's inner half lies on the capsule: inset by half its width so all of it does.
    const qreal inset = outlineWidth / 2;
    const QRectF outline = layout.capsule.adjusted(inset, inset, -inset, -inset);
    painter.setPen(QPen(capsuleOutline, outlineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(outline, outline.height() / 2, outline.height() / 2);

    painter.drawImage(layout.iconRect, tintedIcon(painter.device()->devicePixelRatioF()));

    painter.setFont(layout.font);
    painter.setPen(textColor);
    painter.drawText(layout.labelRect, Qt::AlignLeft | Qt::AlignVCenter, layout.label);
}

} // namespace quillary
