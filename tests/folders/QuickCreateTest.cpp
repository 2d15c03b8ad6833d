#include "folders/QuickCreate.h"
#include "folders/FolderStore.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

using namespace quillary;

namespace {

class QuickCreateTest : public ::testing::Test, public test::SessionHome {
protected:
    QuickCreateTest() { registerDefaultSettings(store); }

    void create(std::optional<QString> typed)
    {
        interaction.typedText = std::move(typed);
        quickCreateFolder(folders, interaction);
    }

    FolderStore folders{store};
    test::FakeInteraction interaction;
};

TEST_F(QuickCreateTest, CleansTheNameAndRefusesDuplicates)
{
    create("  a/b:c \n");
    const ModalAlert prompt = interaction.alerts.value(0);
    EXPECT_EQ(QStringList({prompt.messageText, prompt.informativeText}) + prompt.buttons +
                  interaction.placeholders,
              (QStringList{"Create Folder", "Enter a folder name to create inside Desktop.", "Save", "Cancel",
                           "Folder name"}));
    EXPECT_TRUE(QFileInfo(home.filePath("Desktop/a-b-c")).isDir());
    EXPECT_EQ(folders.folders().value(0).path, "Desktop/a-b-c");

    create("a-b-c"); // the same name again: one beep
    create("   ");
    create(std::nullopt); // cancelled
    EXPECT_EQ(folders.folders().size(), 1);
    EXPECT_EQ(interaction.beeps, 1);
}

// Whatever is typed, one folder is made inside the parent, never "." or "..", or it is refused.
TEST_F(QuickCreateTest, HostileNamesBecomeOneFolderInsideTheParentOrAreRefused)
{
    testing::internal::CaptureStdout();
    for (const QString& typed :
         {QString("../.."), QString(" .. "), QString("."), QString::fromUtf16(u"a\0b\x1b[1m\u0085z", 9),
          QString(128, u'é') /* 256 bytes */})
        create(typed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "❌ Create folder failed: File name too long\n");
    EXPECT_EQ(interaction.beeps, 1);
    const QStringList made{"-", "--", "..-..", "a-b-[1m-z"};
    EXPECT_EQ(QDir(home.filePath("Desktop")).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
              made);
    EXPECT_EQ(folders.folders().size(), made.size());
}

TEST_F(QuickCreateTest, BeepsWhenTheFolderCannotBeMadeOrQuickCreateIsOff)
{
    store.setText(prefs::quickCreateBaseFolder, "Downloads");
    test::writeFile(home.filePath("Downloads"), "a file where the folder should be");
    EXPECT_EQ(test::stdoutOf([&] { create("Blocked"); }).rfind("❌ Create folder failed: ", 0), 0u);
    EXPECT_EQ(interaction.beeps, 1);
    EXPECT_TRUE(folders.folders().isEmpty());

    store.setBool(prefs::quickCreateEnabled, false);
    create("Anything");
    EXPECT_EQ(interaction.beeps, 2);
    EXPECT_EQ(interaction.alerts.size(), 1) << "no prompt when quick-create is off";
}

} // namespace
