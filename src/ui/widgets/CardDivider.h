#pragma once

#include <QWidget>

namespace quillary {

// The hairline between two rows of a card, indented past the rows' icon tiles.
class CardDivider final : public QWidget {
    Q_OBJECT

public:
    explicit CardDivider(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quillary
