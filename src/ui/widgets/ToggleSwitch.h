#pragma once

#include <QAbstractButton>

class QVariantAnimation;

namespace quillary {

// An on/off switch: a rounded track with a knob that slides to the right when on. A checkable
// button, so Space toggles it from the keyboard (Return is left to the window), `toggled` reports
// changes and screen readers hear a check box with its accessible name and state. Drawn from the
// palette: the accent when on, a mid-tone track when off, in light and dark themes alike.
class ToggleSwitch final : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void checkStateSet() override;

private:
    // Where the knob is drawn: 0 off … 1 on, in between while it slides.
    qreal knobPosition() const;

    QVariantAnimation* m_slide;
};

} // namespace quillary
