#include "clipboard/ClipboardContent.h"

#include "support/Fakes.h"

#include <gtest/gtest.h>

using namespace quillary;

TEST(ClipboardContentTest, FileReferencesAreToldFromImagesAndLinks)
{
    // Offered types, the uri-list's content, whether a file is named.
    const std::tuple<QString, QByteArray, bool> cases[] = {
        {"x-special/gnome-copied-files text/uri-list image/png", "", true},
        {"application/x-kde-cutselection image/png", "", true},
        {"text/uri-list image/png", "# comment\r\nfile:///home/a/shot.png\r\n", true},
        {"text/uri-list", "https://example.org/a.png\nFILE:///tmp/b.png\n", true},
        {"text/uri-list image/png", "https://example.org/a.png\n", false}, // a browser's copied image
        {"text/uri-list", "", false},
        {"image/png", "", false},
        {"text/plain UTF8_STRING", "", false},
    };
    for (const auto& [formats, uris, isFileReference] : cases) {
        const bool found = offersFileReference(formats.split(' '), [&](const QString& type) {
            return type == u"text/uri-list" ? uris : QByteArray("data");
        });
        EXPECT_EQ(found, isFileReference) << formats.toStdString() << uris.toStdString();
    }
}

TEST(ClipboardContentTest, ThePngOfferIsPreferredThenAnyDecodableBitmap)
{
    const std::pair<QString, QString> cases[] = {
        {"image/bmp image/png text/html", "image/png"},
        {"text/html image/bmp", "image/bmp"},
        {"image/svg+xml image/jpeg", "image/jpeg"},
        {"image/x-not-a-codec text/plain", ""},
        {"text/plain UTF8_STRING", ""},
        {"", ""},
    };
    for (const auto& [formats, picked] : cases)
        EXPECT_EQ(pickImageFormat(formats.split(' ', Qt::SkipEmptyParts)), picked) << formats.toStdString();
}

TEST(ClipboardContentTest, Folders)
{
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
