#pragma once

#include <QLabel>

namespace quillary {

// The heading above a card: small bold capitals in the secondary colour, slightly spaced.
class SectionLabel final : public QLabel {
    Q_OBJECT

public:
    explicit SectionLabel(const QString& text, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyStyle();
};

} // namespace quillary
