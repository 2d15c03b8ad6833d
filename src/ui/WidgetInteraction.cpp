#include "ui/WidgetInteraction.h"

#include "app/Diagnostics.h"

#include <QDesktopServices>
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

void WidgetInteraction::openUrl(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

} // namespace quillary
