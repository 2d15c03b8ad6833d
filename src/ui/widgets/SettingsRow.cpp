#include "ui/widgets/SettingsRow.h"

#include "ui/widgets/SettingsStyle.h"
#include "ui/widgets/SymbolIcon.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>

namespace quillary {
namespace {

constexpr int kTileSide = 28;
constexpr int kRowSymbolSide = 15;

// A one-line title that shortens itself with an ellipsis instead of widening the row.
class TitleLabel final : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    Qt::TextElideMode elideMode = Qt::ElideRight;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(),
                              fontMetrics().elidedText(text(), elideMode, area.width()), foregroundRole());
    }
};

} // namespace

SettingsRow::SettingsRow(const QString& icon, const QColor& iconColor, const QString& title,
                         const QString& subtitle, QWidget* trailing, QWidget* parent)
    : QWidget(parent)
    , m_iconTile(new QLabel(this))
    , m_title(new TitleLabel(title, this))
    , m_subtitle(new QLabel(subtitle, this))
    , m_trailing(trailing)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 5, 0, 5);
    row->setSpacing(12);
    m_iconTile->setFixedSize(kTileSide, kTileSide);
    m_iconTile->setAlignment(Qt::AlignCenter);
    row->addWidget(m_iconTile, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    m_subtitle->setWordWrap(true);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    row->addLayout(texts, 1);
    if (m_trailing)
        row->addWidget(m_trailing, 0, Qt::AlignVCenter);
    setIcon(icon, iconColor);
    applyStyle();
}

void SettingsRow::setIcon(const QString& icon, const QColor& iconColor)
{
    m_iconName = icon;
    m_iconColor = iconColor;
    m_iconTile->setPixmap(symbolIcon(icon, iconColor, kRowSymbolSide).pixmap(kRowSymbolSide, kRowSymbolSide));
    const QColor tile = style::withOpacity(iconColor, 0.12);
    m_iconTile->setStyleSheet(QStringLiteral("background-color: rgba(%1, %2, %3, %4); border-radius: 7px;")
                                  .arg(tile.red())
                                  .arg(tile.green())
                                  .arg(tile.blue())
                                  .arg(tile.alpha()));
}

void SettingsRow::setTitle(const QString& title)
{
    m_title->setText(title);
}

void SettingsRow::setSubtitle(const QString& subtitle)
{
    m_subtitle->setText(subtitle);
}

void SettingsRow::setTitleElideMode(Qt::TextElideMode mode)
{
    static_cast<TitleLabel*>(m_title)->elideMode = mode;
    m_title->update();
}

QString SettingsRow::title() const
{
    return m_title->text();
}

QString SettingsRow::subtitle() const
{
    return m_subtitle->text();
}

void SettingsRow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyStyle();
}

void SettingsRow::applyStyle()
{
    m_title->setFont(style::font(font(), 13, QFont::Medium));
    m_subtitle->setFont(style::font(font(), 11));
    style::useSecondaryText(*m_subtitle, palette());
}

} // namespace quillary
