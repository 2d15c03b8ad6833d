#include "ui/QuickMovePopup.h"
#include "folders/FolderStore.h"
#include "imaging/ImageLimits.h"
#include "ui/QuickMovePanel.h"
#include "ui/Thumbnail.h"

#include "support/Fakes.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace quillary {
namespace {

class QuickMovePopupTest : public ::testing::Test, public test::SessionHome {
protected:
    QuickMovePopupTest() { applyImageDecodingLimits(); }

    QList<FolderConfig> saveNamed(const QStringList& names)
    {
        QList<FolderConfig> folders;
        for (const QString& name : names)
            folders.append(makeCustomFolder(name, "Desktop"));
        saveFolders(store, folders);
        return folders;
    }
    std::unique_ptr<QuickMovePopup> makePopup(const QString& path = {})
    {
        return std::make_unique<QuickMovePopup>(QUrl::fromLocalFile(path), 1, folderStore);
    }

    FolderStore folderStore{store};
};

// Clicks within the double-click interval of the card being shown are the rest of a double-click.
TEST_F(QuickMovePopupTest, ButtonsActOnceTheDoubleClickIntervalHasPassed)
{
    const QList<FolderConfig> folders = saveNamed({"Desktop", "desktop", "Documents "});
    QStyleHints* hints = QGuiApplication::styleHints();
    const auto restore = qScopeGuard([hints] { hints->setMouseDoubleClickInterval(0); });
    hints->setMouseDoubleClickInterval(60'000);
    const auto popup = makePopup();
    QStringList calls;
    popup->onMove = [&](const QString& id) { calls.append(id); };
    popup->onDelete = [&] { calls.append("delete"); };
    popup->onQuickCreateFolder = [&] { calls.append("create"); };
    popup->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup.get()));
    const QList<QPushButton*> folderButtons = popup->findChildren<QPushButton*>("folderButton");
    QList<QWidget*> buttons(folderButtons.begin(), folderButtons.end());
    buttons << popup->findChild<QToolButton*>("newFolderButton")
            << popup->findChild<QToolButton*>("trashButton");
    const auto clickAll = [&] {
        for (QWidget* button : buttons)
            QTest::mouseClick(button, Qt::LeftButton);
    };
    clickAll();
    EXPECT_TRUE(calls.isEmpty()) << calls.join(',').toStdString();
    hints->setMouseDoubleClickInterval(0);
    clickAll();
    EXPECT_EQ(calls, (QStringList{folders[0].idText(), folders[1].idText(), folders[2].idText(), "create",
                                  "delete"}));
}

// A list far longer than anyone keeps by hand gets thirty buttons and a line saying how many are left out.
TEST_F(QuickMovePopupTest, ALongListShowsThirtyButtonsAndHowManyAreLeftOut)
{
    for (const int count : {30, 31, 1000}) {
        QStringList names;
        while (names.size() < count)
            names << QString::number(names.size());
        const QList<FolderConfig> folders = saveNamed(names);
        const auto popup = makePopup();
        const QList<QPushButton*> buttons = popup->findChildren<QPushButton*>("folderButton");
        ASSERT_EQ(buttons.size(), 30) << count;
        EXPECT_EQ(buttons.last()->property("folderID"), folders[29].idText());
        const QLabel* more = popup->findChild<QLabel*>("moreFolders");
        EXPECT_EQ(more ? more->text() : QString(), count == 30   ? ""
                                                   : count == 31 ? "1 more folder not shown"
                                                                 : "970 more folders not shown");
    }
}

TEST_F(QuickMovePopupTest, ThumbnailIsASquareOnlyForImagesThatDecode)
{
    const std::tuple<const char*, QSize, int> cases[] = {{"wide.png", {300, 100}, 80},
                                                         {"tall.png", {90, 270}, 80},
                                                         {"wide.jpg", {1200, 400}, 80},
                                                         {"huge.png", {9000, 3000}, kMaxThumbnailPixels}};
    for (const auto& [file, size, side] : cases) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(
            test::pattern(QImage::Format_RGB32, size.width(), size.height()).save(home.filePath(file)));
        EXPECT_EQ(decodeThumbnail(home.filePath(file), side).size(), QSize(side, side));
    }

    const auto withImage = makePopup(home.filePath("wide.png"));
    auto* thumbnail = withImage->findChild<QLabel*>("thumbnail");
    ASSERT_NE(thumbnail, nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return !thumbnail->pixmap().isNull(); }));
    EXPECT_EQ(thumbnail->pixmap().deviceIndependentSize(), QSizeF(80, 80));
    test::writeFile(home.filePath("notes.png"), "not an image at all");
    // A link in a screenshot's place is not read through.
    ASSERT_TRUE(QFile::link(home.filePath("wide.png"), home.filePath("link.png")));
    EXPECT_TRUE(decodeThumbnail(home.filePath("link.png"), 80).isNull());
    EXPECT_EQ(makePopup(home.filePath("link.png"))->findChild<QLabel*>("thumbnail"), nullptr);
    EXPECT_EQ(makePopup(home.filePath("notes.png"))->findChild<QLabel*>("thumbnail"), nullptr);

    // A header that claims a size past the caps: no slot at all, and nothing decoded.
    for (const auto& [what, bytes] : test::imagesOfAbsurdSize()) {
        test::writeFile(home.filePath("absurd.png"), bytes);
        EXPECT_TRUE(decodeThumbnail(home.filePath("absurd.png"), 80).isNull()) << what;
        EXPECT_EQ(makePopup(home.filePath("absurd.png"))->findChild<QLabel*>("thumbnail"), nullptr) << what;
    }

    // A header that reads but pixel data that does not: the slot goes away again.
    const QByteArray png = test::readFile(home.filePath("wide.png"));
    test::writeFile(home.filePath("cut.png"), png.left(png.size() / 2));
    const auto cut = makePopup(home.filePath("cut.png"));
    QSignalSpy resized(cut.get(), &QuickMovePopup::contentSizeChanged);
    EXPECT_TRUE(test::waitUntil([&] { return cut->findChild<QLabel*>("thumbnail") == nullptr; }));
    EXPECT_GE(resized.count(), 1);
}

TEST(QuickMovePanelPlacement, LowerRightOfTheAvailableArea)
{
    const std::tuple<const char*, QRect, QSize, QPoint> cases[] = {
        {"full HD", {0, 0, 1920, 1080}, {420, 200}, {1490, 720}},
        {"second screen to the right", {1920, 0, 2560, 1440}, {420, 200}, {4050, 1080}},
        {"dock on the right", {0, 0, 1856, 1080}, {420, 200}, {1426, 720}},
        {"area too small", {100, 50, 400, 300}, {420, 200}, {100, 50}},
    };
    for (const auto& [name, available, panel, topLeft] : cases)
        EXPECT_EQ(quickMovePanelTopLeft(available, panel), topLeft) << name;
}

TEST_F(QuickMovePopupTest, PanelFloatsWithoutFocusAndGrowsUpwardWithTheFolderList)
{
    QList<FolderConfig> folders = saveNamed({"Desktop", "Documents", "Work"});
    QuickMovePanel panel;
    panel.setContent(makePopup().release());
    EXPECT_TRUE(panel.windowType() == Qt::Tool &&
                panel.windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                              Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    panel.placeOnScreen(QGuiApplication::primaryScreen());
    QWidget* const activeBefore = QApplication::activeWindow();
    panel.showWithoutActivating();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    // Offscreen activates every window it shows; what a window manager is told needs a real X server
    // (ctest runs this binary once more under xvfb-run).
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
        test::processEventsFor(std::chrono::milliseconds(100));
        EXPECT_EQ(QApplication::activeWindow(), activeBefore);
        QProcess xprop; // another X client, as a window manager is
        xprop.start("xprop", {"-id", QString::number(panel.winId()), "WM_HINTS", "_NET_WM_USER_TIME"});
        ASSERT_TRUE(xprop.waitForFinished(5000)) << "xprop is needed under X11";
        const QString properties = QString::fromUtf8(xprop.readAllStandardOutput());
        for (const char* line :
             {"Client accepts input or input focus: False", "_NET_WM_USER_TIME(CARDINAL) = 0\n"})
            EXPECT_TRUE(properties.contains(QLatin1String(line))) << qPrintable(properties);
    }
    const QRect before = panel.geometry();
    EXPECT_EQ(before.topLeft(), quickMovePanelTopLeft(panel.screen()->availableGeometry(), before.size()));

    QSignalSpy resized(panel.content(), &QuickMovePopup::contentSizeChanged);
    folders.append(makeCustomFolder("Taxes", "Documents"));
    saveFolders(store, folders);
    // A second row of buttons; the panel keeps its bottom edge.
    ASSERT_TRUE(test::waitUntil([&] { return panel.height() > before.height(); })) << panel.height();
    EXPECT_EQ(resized.count(), 1);
    EXPECT_EQ(panel.geometry().bottomRight(), before.bottomRight());
}

} // namespace
} // namespace quillary
