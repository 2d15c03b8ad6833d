#pragma once

#include <QColor>
#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace quillary {

// One setting in a card: a tinted icon tile, a title with a subtitle beneath, and the control
// (`trailing`) at the right edge.
class SettingsRow final : public QWidget {
    Q_OBJECT

public:
    SettingsRow(const QString& icon, const QColor& iconColor, const QString& title, const QString& subtitle,
                QWidget* trailing, QWidget* parent = nullptr);

    void setIcon(const QString& icon, const QColor& iconColor);
    void setTitle(const QString& title);
    void setSubtitle(const QString& subtitle);
    // Where a title too long for the row loses its characters (the end, unless told otherwise).
    void setTitleElideMode(Qt::TextElideMode mode);

    QString title() const;
    QString subtitle() const;
    QString iconName() const { return m_iconName; }
    QWidget* trailing() const { return m_trailing; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyStyle();

    QString m_iconName;
    QColor m_iconColor;
    QLabel* m_iconTile;
    QLabel* m_title;
    QLabel* m_subtitle;
    QWidget* m_trailing;
};

} // namespace quillary
