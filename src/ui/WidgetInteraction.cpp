#include "ui/WidgetInteraction.h"

#include "core/Diagnostics.h"
#include "ui/TextPromptDialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace quillary {

int WidgetInteraction::runModal(const ModalAlert& alert)
{
    // Headless there is nobody to answer, and a modal box would wait forever: say it instead.
    if (QGuiApplication::platformName() == u"offscreen") {
        printLine(QStringLiteral("⚠️ Quillary: %1: %2")
                      .arg(alert.messageText, alert.informativeText.section(u'\n', 0, 0)));
        return -1;
    }
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    QList<QAbstractButton*> buttons;
    for (const QString& title : alert.buttons)
        buttons.append(
            box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    if (!buttons.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.exec();
    return static_cast<int>(buttons.indexOf(box.clickedButton()));
}

std::optional<QString> WidgetInteraction::runTextPrompt(const ModalAlert& alert, const QString& placeholder)
{
    if (QGuiApplication::platformName() == u"offscreen") {
        printLine(
            QStringLiteral("⚠️ Quillary: %1: nobody to answer without a display").arg(alert.messageText));
        return std::nullopt;
    }
    TextPromptDialog dialog(alert, placeholder);
    dialog.show();
    dialog.raise();
    dialog.activateWindow(); // a tray app is never in front by itself
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.text();
}

void WidgetInteraction::openUrl(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

std::optional<QUrl> WidgetInteraction::chooseFolder(const QString& message, const QString& prompt)
{
    QFileDialog dialog;
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setWindowTitle(message);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    dialog.setDirectory(QDir::homePath());
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedUrls().isEmpty())
        return std::nullopt;
    return dialog.selectedUrls().first();
}

void WidgetInteraction::beep()
{
    QApplication::beep();
}

} // namespace quillary
