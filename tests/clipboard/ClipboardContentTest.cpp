#include "clipboard/ClipboardContent.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <QHash>

using namespace quillary;

TEST(ClipboardContentTest, FileReferencesAreToldFromImagesAndLinks)
{
    const QByteArray uriList = "text/uri-list";
    const struct {
        const char* what;
        QStringList formats;
        QByteArray uris;
        bool isFileReference;
    } cases[] = {
        {"a file copied in GNOME Files",
         {"x-special/gnome-copied-files", "text/uri-list", "image/png"},
         "",
         true},
        {"a file copied in Dolphin", {"application/x-kde-cutselection", "image/png"}, "", true},
        {"a uri-list naming a file",
         {uriList, "image/png"},
         "# comment\r\nfile:///home/a/shot.png\r\n",
         true},
        {"a file among web links", {uriList}, "https://example.org/a.png\nFILE:///tmp/b.png\n", true},
        {"a browser's copied image with its web address",
         {uriList, "image/png"},
         "https://example.org/a.png\n",
         false},
        {"an empty uri-list", {uriList}, "", false},
        {"a screenshot", {"image/png"}, "", false},
        {"text", {"text/plain", "UTF8_STRING"}, "", false},
    };
    for (const auto& c : cases) {
        const bool found = offersFileReference(c.formats, [&](const QString& type) {
            return type == QLatin1String(uriList) ? c.uris : QByteArray("data");
        });
        EXPECT_EQ(found, c.isFileReference) << c.what;
    }
}

TEST(ClipboardContentTest, ThePngOfferIsPreferredThenAnyDecodableBitmap)
{
    const struct {
        QStringList formats;
        QString picked;
    } cases[] = {
        {{"image/bmp", "image/png", "text/html"}, "image/png"},
        {{"text/html", "image/bmp"}, "image/bmp"},
        {{"image/svg+xml", "image/jpeg"}, "image/jpeg"},
        {{"image/x-not-a-codec", "text/plain"}, ""},
        {{"text/plain", "UTF8_STRING"}, ""},
        {{}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pickImageFormat(c.formats), c.picked) << c.formats.join(' ').toStdString();
}

TEST(ClipboardContentTest, FileNamesAndFolders)
{
    EXPECT_EQ(clipboardFileName(1764950400, 1), "Clipboard_1764950400.png");
    EXPECT_EQ(clipboardFileName(1764950400, 2), "Clipboard_1764950400-2.png");

    test::SessionHome session;
    const QString home = session.home.path();
    const struct {
        QString setting;
        QString folder;
    } cases[] = {
        {"Pictures", home + "/Pictures/ClipBoard"}, {"Downloads", home + "/Downloads/ClipBoard"},
        {"", home + "/Desktop/ClipBoard"},          {"pictures", home + "/Desktop/ClipBoard"},
        {"../etc", home + "/Desktop/ClipBoard"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clipboardFolderPath(c.setting), c.folder) << c.setting.toStdString();
}
