#pragma once

#include <QAbstractButton>

class QVariantAnimation;

namespace quillary {

// An on/off switch: a rounded track with a knob that slides to the right when on. A checkable
// button, so Space toggles it from the keyboard, `toggled` reports changes and screen readers hear a
// check box with its accessible name. Drawn from the palette: the highlight colour when on, a
// mid-tone track when off, in light and dark themes alike.
class ToggleSwitch final : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void checkStateSet() override;

private:
    qreal m_knobPosition = 0.0; // 0 off … 1 on, animated between
    QVariantAnimation* m_slide = nullptr;
};

} // namespace quillary
