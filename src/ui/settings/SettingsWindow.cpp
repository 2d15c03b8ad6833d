#include "ui/settings/SettingsWindow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillary {

SettingsWindow::SettingsWindow(bool showAppControls, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Quillary Settings"));
    setFixedSize(720, 680);
    // Closing keeps the window object; the next opening builds a fresh one.
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    if (showAppControls) {
        auto* footer = new QHBoxLayout;
        footer->addStretch();
        m_pauseButton = new QPushButton(this);
        connect(m_pauseButton, &QPushButton::clicked, this, &SettingsWindow::pauseToggleRequested);
        footer->addWidget(m_pauseButton);
        auto* quit = new QPushButton(QStringLiteral("Quit"), this);
        connect(quit, &QPushButton::clicked, this, &SettingsWindow::quitRequested);
        footer->addWidget(quit);
        layout->addLayout(footer);
    }
}

void SettingsWindow::setPaused(bool isPaused)
{
    if (m_pauseButton)
        m_pauseButton->setText(isPaused ? QStringLiteral("Resume Quillary")
                                        : QStringLiteral("Pause Quillary"));
}

} // namespace quillary
