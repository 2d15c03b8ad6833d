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
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <QToolButton>

#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

namespace quillary {
namespace {

// Blue | red | green bands across the longer side: a centred square crop keeps only red.
QImage bandedImage(QSize size)
{
    const bool wide = size.width() >= size.height();
    QImage bands(wide ? 3 : 1, wide ? 1 : 3, QImage::Format_RGB32);
    for (const int i : {0, 1, 2})
        bands.setPixel(wide ? i : 0, wide ? 0 : i, QList<QRgb>{0xff0000ff, 0xffff0000, 0xff00ff00}[i]);
    return bands.scaled(size); // nearest neighbour: the bands keep hard edges
}

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

TEST_F(QuickMovePopupTest, FoldersInRowsOfThreeWhoseButtonsActOnceTheDoubleClickIntervalHasPassed)
{
    const QStringList names{"Desktop", "desktop", "Documents ", "Downloads", "A very long folder name"};
    const QList<bool> custom{false, true, true, false, true};
    const QList<FolderConfig> folders = saveNamed(names);
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
    const QList<QPushButton*> buttons = popup->findChildren<QPushButton*>("folderButton");
    ASSERT_EQ(buttons.size(), 5);
    const auto clickAll = [&] {
        for (QWidget* button : QList<QWidget*>(buttons.begin(), buttons.end()) +
                                   QList<QWidget*>{popup->findChild<QToolButton*>("newFolderButton"),
                                                   popup->findChild<QToolButton*>("trashButton")})
            QTest::mouseClick(button, Qt::LeftButton);
    };
    clickAll(); // within the double-click interval of being shown: ignored
    EXPECT_TRUE(calls.isEmpty()) << calls.join(',').toStdString();
    hints->setMouseDoubleClickInterval(0);
    clickAll();
    EXPECT_EQ(calls.mid(5), (QStringList{"create", "delete"}));
    for (qsizetype i = 0; i < 5; ++i) {
        SCOPED_TRACE(names[i].toStdString());
        EXPECT_EQ(calls.value(i), folders[i].idText());
        EXPECT_EQ(buttons[i]->property("folderKind"), custom[i] ? "custom" : "standard");
        if (i == 0)
            continue;
        // Rows of three: 10 right of the button before, or at the left, 8 below the row above.
        const QRect before = buttons[i - 1]->geometry();
        EXPECT_EQ(buttons[i]->pos(),
                  i % 3 ? QPoint(before.right() + 1 + 10, before.top())
                        : QPoint(buttons[0]->x(), buttons[i - 3]->geometry().bottom() + 1 + 8));
    }
    EXPECT_NE(buttons[4]->text(), names[4]) << "long names are elided";
}

// A list far longer than anyone keeps by hand gets thirty buttons and a line saying how many are left out.
TEST_F(QuickMovePopupTest, ALongListShowsThirtyButtonsAndHowManyAreLeftOut)
{
    for (const int count : {30, 31, 1000}) {
        QStringList names;
        for (int i = 0; i < count; ++i)
            names << QString::number(i);
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

TEST_F(QuickMovePopupTest, ThumbnailIsACentredCropOnlyForImagesThatDecode)
{
    const std::tuple<const char*, QSize, int> cases[] = {{"wide.png", {300, 100}, 80},
                                                         {"tall.png", {90, 270}, 80},
                                                         {"wide.jpg", {1200, 400}, 80},
                                                         {"huge.png", {9000, 3000}, kMaxThumbnailPixels}};
    for (const auto& [file, size, side] : cases) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(bandedImage(size).save(home.filePath(file)));
        const QImage thumbnail = decodeThumbnail(home.filePath(file), side);
        ASSERT_EQ(thumbnail.size(), QSize(side, side));
        const int last = side - 2, mid = side / 2;
        for (const QPoint point : {QPoint(1, mid), QPoint(last, mid), QPoint(mid, 1), QPoint(mid, last)})
            EXPECT_EQ(thumbnail.pixel(point) & 0xc0c0c0, 0xc00000u) << point.x() << "," << point.y(); // red
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
        {"top panel", {0, 32, 1920, 1048}, {420, 200}, {1490, 720}},
        {"dock on the right", {0, 0, 1856, 1080}, {420, 200}, {1426, 720}},
        {"area too small", {100, 50, 400, 300}, {420, 200}, {100, 50}},
    };
    for (const auto& [name, available, panel, topLeft] : cases)
        EXPECT_EQ(quickMovePanelTopLeft(available, panel), topLeft) << name;
}

// The 32-bit values of `window`'s property `name`; empty when it is not set.
std::vector<std::uint32_t> cardinals(xcb_connection_t* x11, xcb_window_t window, const char* name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(x11, xcb_intern_atom(x11, 1, std::strlen(name), name), nullptr), &std::free);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        atom ? xcb_get_property_reply(
                   x11, xcb_get_property(x11, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                   nullptr)
             : nullptr,
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {data, data + xcb_get_property_value_length(reply.get()) / 4};
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
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>(); x11 && x11->connection()) {
        test::processEventsFor(std::chrono::milliseconds(100));
        EXPECT_EQ(QApplication::activeWindow(), activeBefore);
        const auto window = xcb_window_t(panel.winId());
        // WM_HINTS: flags, then the input hint, which set and false means "never give me focus".
        const std::vector<std::uint32_t> hints = cardinals(x11->connection(), window, "WM_HINTS");
        EXPECT_TRUE(hints.size() >= 2 && hints[0] & 1u && hints[1] == 0u);
        // A user time of zero asks the window manager not to activate the window when it maps.
        EXPECT_EQ(cardinals(x11->connection(), window, "_NET_WM_USER_TIME"), std::vector<std::uint32_t>{0});
    }
    const QRect before = panel.geometry();
    EXPECT_EQ(before.topLeft(), quickMovePanelTopLeft(panel.screen()->availableGeometry(), before.size()));

    QSignalSpy resized(panel.content(), &QuickMovePopup::contentSizeChanged);
    folders.append(makeCustomFolder("Taxes", "Documents"));
    saveFolders(store, folders);
    // A second row of buttons; the panel keeps its bottom edge.
    ASSERT_TRUE(test::waitUntil([&] { return panel.height() == before.height() + 26 + 8; }))
        << panel.height();
    EXPECT_EQ(resized.count(), 1);
    EXPECT_EQ(panel.geometry().bottomRight(), before.bottomRight());
}

} // namespace
} // namespace quillary
