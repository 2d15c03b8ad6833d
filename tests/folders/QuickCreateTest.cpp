#include "folders/QuickCreate.h"
#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using namespace quillary;

namespace {

class QuickCreateTest : public ::testing::Test, public test::SessionHome {
protected:
    QuickCreateTest() { registerDefaultSettings(store); }

    QString dir(const QString& standardName) const
    {
        return standardDirectoryURL(standardName).toLocalFile();
    }
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
    create(QStringLiteral("  a/b:c \n"));
    ASSERT_EQ(interaction.alerts.size(), 1);
    EXPECT_EQ(interaction.alerts[0].messageText, "Create Folder");
    EXPECT_EQ(interaction.alerts[0].informativeText, "Enter a folder name to create inside Desktop.");
    EXPECT_EQ(interaction.alerts[0].buttons, (QStringList{"Save", "Cancel"}));
    EXPECT_EQ(interaction.placeholders, QStringList{"Folder name"});
    EXPECT_TRUE(QFileInfo(dir("Desktop") + QStringLiteral("/a-b-c")).isDir());
    ASSERT_EQ(folders.folders().size(), 1);
    EXPECT_EQ(folders.folders()[0].path, "Desktop/a-b-c");
    EXPECT_EQ(interaction.beeps, 0);

    create(QStringLiteral("a-b-c"));
    EXPECT_EQ(interaction.beeps, 1) << "the same name again";
    create(QStringLiteral("   "));
    create(std::nullopt); // cancelled
    EXPECT_EQ(folders.folders().size(), 1);
    EXPECT_EQ(interaction.beeps, 1);
}

TEST_F(QuickCreateTest, BeepsWhenTheFolderCannotBeMadeOrQuickCreateIsOff)
{
    store.setText(prefs::quickCreateBaseFolder, QStringLiteral("Downloads"));
    test::writeFile(dir("Downloads"), "a file where the folder should be");
    testing::internal::CaptureStdout();
    create(QStringLiteral("Blocked"));
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("❌ Create folder failed: ", 0), 0u);
    EXPECT_EQ(interaction.beeps, 1);
    EXPECT_TRUE(folders.folders().isEmpty());

    store.setBool(prefs::quickCreateEnabled, false);
    const qsizetype prompts = interaction.alerts.size();
    create(QStringLiteral("Anything"));
    EXPECT_EQ(interaction.beeps, 2);
    EXPECT_EQ(interaction.alerts.size(), prompts) << "no prompt when quick-create is off";
}

} // namespace
