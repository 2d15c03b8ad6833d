#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <chrono>
#include <memory>

class QPropertyAnimation;
class QWidget;

namespace quillary {

class CopiedToastView;

// How a toast comes and goes. The hide is scheduled from the start of each show, fade-in included.
struct CopiedToastTiming {
    std::chrono::milliseconds fadeIn{200};
    std::chrono::milliseconds hideAfter{1500};
    std::chrono::milliseconds fadeOut{350};
};

// Where the toast's top-left goes: centred in the available area of the first screen whose geometry
// contains `pointer`, or `previous` when none does. Both lists are in QGuiApplication::screens() order.
QPoint copiedToastTopLeft(const QList<QRect>& screenGeometries, const QList<QRect>& availableGeometries,
                          QPoint pointer, QSize size, QPoint previous);

// The "Saved to ClipBoard Folder" toast: a click-through panel, above other windows and on every
// desktop, that never takes focus. Each show fades it in at the centre of the pointer's screen and
// schedules a fade-out that is never called off, so a toast shown again soon after goes with the
// first one's hide. The panel is made on the first show and kept, hidden between toasts.
class CopiedToast final : public QObject {
    Q_OBJECT

public:
    static constexpr QSize panelSize{260, 46};

    explicit CopiedToast(CopiedToastTiming timing = {}, QObject* parent = nullptr);
    ~CopiedToast() override;

    void show(QPoint pointerPos);
    // Fades the panel out, then hides it; nothing when it is hidden or already fading out.
    void hide();

    // The panel window; null until the first show.
    QWidget* panel() const { return m_panel.get(); }
    const CopiedToastTiming& timing() const { return m_timing; }

private:
    void createPanel();

    CopiedToastTiming m_timing;
    std::unique_ptr<QWidget> m_panel;
    CopiedToastView* m_view = nullptr;
    QPropertyAnimation* m_fadeIn = nullptr;
    QPropertyAnimation* m_fadeOut = nullptr;
};

} // namespace quillary
