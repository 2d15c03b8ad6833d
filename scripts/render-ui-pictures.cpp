// render_ui_pictures DIR
// Writes the pictures of the copied toast (copied-toast.png, copied-toast@2x.png), of the tray icon
// (tray-light|dark-SIZE-pendingN.png) and of the settings pages in a dark palette
// (settings-PAGE-dark.png) into DIR, drawn offscreen as the application draws them, in a throw-away
// settings file.
// Built with the tests (tests/ui/CMakeLists.txt); scripts/take-docs-screenshots.sh uses the toast.
#include "ui/CopiedToast.h"
#include "ui/TrayIcon.h"
#include "ui/settings/SettingsView.h"

#include "core/Preferences.h"
#include "folders/FolderStore.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>

using namespace quillary;

namespace {

// Fusion's colours for a dark desktop, as a dark platform theme hands them to Qt.
QPalette darkPalette()
{
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 32), text(236, 236, 238), disabled(128, 128, 132);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(58, 58, 62));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

bool renderDarkSettingsPages(const QDir& out)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
    QTemporaryDir settings;
    Preferences store(settings.filePath(QStringLiteral("Quillary.conf")));
    registerDefaultSettings(store);
    FolderStore folders(store);
    SettingsView view(folders, nullptr, nullptr);
    view.show();
    bool saved = true;
    const struct {
        SettingsTab tab;
        const char* name;
    } pages[] = {{SettingsTab::general, "general"},
                 {SettingsTab::soundsClipboard, "sounds-clipboard"},
                 {SettingsTab::folders, "folders"}};
    for (const auto& page : pages) {
        view.setSelectedTab(page.tab);
        // Layouts settle over a few passes (a wrapped subtitle changes its row's height).
        for (int pass = 0; pass < 5; ++pass) {
            QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QApplication::processEvents();
        }
        saved &= view.grab().save(out.filePath(QStringLiteral("settings-%1-dark.png").arg(page.name)));
    }
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2 || !QDir().mkpath(QString::fromLocal8Bit(argv[1]))) {
        std::fputs("usage: render_ui_pictures DIR\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool saved = true;

    CopiedToast toast;
    toast.show(QGuiApplication::primaryScreen()->geometry().center());
    for (const qreal ratio : {1.0, 2.0}) {
        QImage image(toast.panel()->size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        toast.panel()->render(&image, {}, {}, QWidget::DrawChildren);
        saved &= image.save(out.filePath(ratio > 1 ? "copied-toast@2x.png" : "copied-toast.png"));
    }

    for (const int size : {22, 64}) {
        for (const bool dark : {false, true}) {
            for (const int pending : {0, 3, 42}) {
                const QString name = QStringLiteral("tray-%1-%2-pending%3.png")
                                         .arg(dark ? "dark" : "light")
                                         .arg(size)
                                         .arg(pending);
                saved &= makeTrayIcon(pending, dark).pixmap(size).save(out.filePath(name));
            }
        }
    }
    saved &= renderDarkSettingsPages(out);
    return saved ? 0 : 1;
}
