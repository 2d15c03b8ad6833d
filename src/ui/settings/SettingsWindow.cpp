#include "ui/settings/SettingsWindow.h"

#include "ui/settings/SettingsView.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace quillary {

SettingsWindow::SettingsWindow(FolderStore& folders, SettingsHost* host, Interaction* interaction,
                               bool showAppControls, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_view(new SettingsView(folders, host, interaction, this))
{
    setWindowTitle(QStringLiteral("Quillary Settings"));
    setFixedSize(SettingsView::viewSize);
    // Closing keeps the window object; the next opening builds a fresh one.
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view, &SettingsView::doneRequested, this,
            [this](const QList<RetroRenameJob>& jobs, const QList<FolderConfig>& list) {
                close();
                if (!jobs.isEmpty())
                    emit renamesRequested(jobs, list);
            });

    if (showAppControls) {
        auto* controls = new QWidget;
        auto* rows = new QVBoxLayout(controls);
        rows->setContentsMargins(0, 0, 0, 0);
        m_pauseButton = new QPushButton(controls);
        connect(m_pauseButton, &QPushButton::clicked, this, &SettingsWindow::pauseToggleRequested);
        rows->addWidget(m_pauseButton);
        auto* quit = new QPushButton(QStringLiteral("Quit"), controls);
        connect(quit, &QPushButton::clicked, this, &SettingsWindow::quitRequested);
        rows->addWidget(quit);
        m_view->setSidebarFooter(controls);
    }
    m_view->doneButton()->setFocus();
}

void SettingsWindow::setPaused(bool isPaused)
{
    if (m_pauseButton)
        m_pauseButton->setText(isPaused ? QStringLiteral("Resume Quillary")
                                        : QStringLiteral("Pause Quillary"));
}

} // namespace quillary
