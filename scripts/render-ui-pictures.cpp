// render_ui_pictures DIR
// Writes the pictures of the copied toast (copied-toast.png, copied-toast@2x.png) and of the tray icon
// (tray-light|dark-SIZE-pendingN.png) into DIR, drawn offscreen as the application draws them.
// Built with the tests (tests/ui/CMakeLists.txt); scripts/take-docs-screenshots.sh uses the toast.
#include "ui/CopiedToast.h"
#include "ui/TrayIcon.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <cstdio>

using namespace quillary;

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
    return saved ? 0 : 1;
}
