#pragma once

#include <QWidget>

class QVBoxLayout;

namespace quillary {

// A rounded panel that groups rows: a faint fill of the control background, a hairline border, the
// rows stacked inside with 14 px of padding.
class SettingsCard final : public QWidget {
    Q_OBJECT

public:
    explicit SettingsCard(QWidget* parent = nullptr);

    // Adds `content` below what the card holds; the card takes ownership.
    void addWidget(QWidget* content);
    // Adds a CardDivider.
    void addDivider();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_layout;
};

} // namespace quillary
