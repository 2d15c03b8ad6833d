#pragma once

#include <QAbstractButton>

namespace quillary {

// One page in the settings sidebar: its symbol and title, on the accent colour when selected.
class SidebarButton final : public QAbstractButton {
    Q_OBJECT

public:
    SidebarButton(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static int textWidth(int width);

    QString m_symbol;
};

} // namespace quillary
