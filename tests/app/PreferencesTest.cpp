#include "app/Preferences.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using namespace quillary;

namespace {

class PreferencesTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("Quillary.conf")); }
    QByteArray fileContents() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
};

TEST_F(PreferencesTest, EmptyStoreReadsEveryDefaultAndRegistrationWritesNothing)
{
    Preferences store(path());
    registerDefaultSettings(store);

    EXPECT_TRUE(store.boolValue(prefs::showPopup));
    EXPECT_FALSE(store.boolValue(prefs::autoMove));
    EXPECT_FALSE(store.boolValue(prefs::launchAtLogin));
    EXPECT_FALSE(store.boolValue(prefs::isGlobalRenamingEnabled));
    EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "Quil");
    EXPECT_FALSE(store.boolValue(prefs::globalIncludeDate));
    EXPECT_EQ(store.textValue(prefs::globalFileFormat), "png");
    EXPECT_DOUBLE_EQ(store.doubleValue(prefs::thumbnailDuration), 5.0);
    EXPECT_FALSE(store.boolValue(prefs::isClipboardSyncEnabled));
    EXPECT_EQ(store.textValue(prefs::clipboardSyncFolder), "Desktop");
    EXPECT_TRUE(store.boolValue(prefs::quickCreateEnabled));
    EXPECT_EQ(store.textValue(prefs::quickCreateBaseFolder), "Desktop");
    EXPECT_FALSE(store.boolValue(prefs::popupSoundEnabled));
    EXPECT_FALSE(store.boolValue(prefs::clipboardSoundEnabled));
    EXPECT_EQ(store.textValue(prefs::popupSoundLevel), "high");
    EXPECT_EQ(store.textValue(prefs::clipboardSoundLevel), "high");

    EXPECT_FALSE(store.boolValue(prefs::isPaused));
    EXPECT_FALSE(store.dataValue(prefs::folderBookmark).has_value());
    EXPECT_EQ(store.textValue(prefs::selectedFolderID), "");
    EXPECT_EQ(store.textValue(prefs::activeTab), "Default");

    for (const PreferenceKey& key : prefs::allKeys)
        EXPECT_FALSE(store.hasStoredValue(key)) << key.name;
    EXPECT_FALSE(fileContents().contains("showPopup"));
}

TEST_F(PreferencesTest, RegisteredDefaultsAreFallbacksNotValues)
{
    Preferences store(path());
    EXPECT_FALSE(store.boolValue(prefs::showPopup)) << "before registration an absent Boolean reads false";
    EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "");

    store.setBool(prefs::showPopup, false);
    registerDefaultSettings(store);
    EXPECT_FALSE(store.boolValue(prefs::showPopup)) << "a stored value wins over the registered default";
    store.removeValue(prefs::showPopup);
    EXPECT_TRUE(store.boolValue(prefs::showPopup));
}

TEST_F(PreferencesTest, TypedValuesRoundTripThroughTheFile)
{
    {
        Preferences store(path());
        store.setBool(prefs::autoMove, true);
        store.setText(prefs::globalNamingPrefix, QStringLiteral("Shots, \"best\" = ä/ü [x]"));
        store.setText(prefs::selectedFolderID, QString());
        store.setDouble(prefs::thumbnailDuration, 2.5);
        store.setData(prefs::folderBookmark, QByteArray("/home/u/Bilder\0x", 16));
        store.setText(prefs::savedFolders, QStringLiteral(R"([{"path":"Desktop\/Work","name":"a;b"}])"));
    }
    Preferences reopened(path()); // a fresh store reads the file, not a cache
    registerDefaultSettings(reopened);
    EXPECT_TRUE(reopened.boolValue(prefs::autoMove));
    EXPECT_EQ(reopened.textValue(prefs::globalNamingPrefix), QStringLiteral("Shots, \"best\" = ä/ü [x]"));
    EXPECT_TRUE(reopened.hasStoredValue(prefs::selectedFolderID));
    EXPECT_EQ(reopened.textValue(prefs::selectedFolderID), "");
    EXPECT_DOUBLE_EQ(reopened.doubleValue(prefs::thumbnailDuration), 2.5);
    EXPECT_EQ(reopened.dataValue(prefs::folderBookmark), QByteArray("/home/u/Bilder\0x", 16));
    EXPECT_EQ(reopened.textValue(prefs::savedFolders),
              QStringLiteral(R"([{"path":"Desktop\/Work","name":"a;b"}])"));

    reopened.removeValue(prefs::folderBookmark);
    EXPECT_FALSE(Preferences(path()).dataValue(prefs::folderBookmark).has_value());
}

TEST_F(PreferencesTest, ValuesOfTheWrongTypeReadAsTheirDefaults)
{
    test::writeFile(path(), "[General]\n"
                            "showPopup=banana\n"
                            "quickCreateEnabled=0\n"
                            "thumbnailDuration=five\n"
                            "globalNamingPrefix=a, b\n"
                            "globalFileFormat=@ByteArray(jpg)\n"
                            "folderBookmark=/plain/text\n"
                            "isPaused=yes\n");
    Preferences store(path());
    registerDefaultSettings(store);
    EXPECT_TRUE(store.boolValue(prefs::showPopup));
    EXPECT_TRUE(store.boolValue(prefs::quickCreateEnabled));
    EXPECT_DOUBLE_EQ(store.doubleValue(prefs::thumbnailDuration), 5.0);
    EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "Quil");
    EXPECT_EQ(store.textValue(prefs::globalFileFormat), "png");
    EXPECT_FALSE(store.dataValue(prefs::folderBookmark).has_value());
    EXPECT_FALSE(store.boolValue(prefs::isPaused));

    // Writing through the store repairs the value.
    store.setBool(prefs::showPopup, false);
    EXPECT_FALSE(Preferences(path()).boolValue(prefs::showPopup));
}

TEST_F(PreferencesTest, CorruptOrHalfWrittenFileReadsAsDefaultsAndStaysWritable)
{
    const QList<QByteArray> damaged{
        QByteArray("\x89PNG\r\n\x1a\n\0\0\xff\xfe[[[=\n=\n\0", 17),
        QByteArray("[General]\nautoMove=true\nglobalNamingPrefix=\"unterminated\nthumbnailDuration=1."),
        QByteArray("[General\nshowPopup=false"),
    };
    for (const QByteArray& bytes : damaged) {
        test::writeFile(path(), bytes);
        Preferences store(path());
        registerDefaultSettings(store);
        EXPECT_EQ(store.textValue(prefs::clipboardSyncFolder), "Desktop");
        EXPECT_FALSE(store.boolValue(prefs::isPaused));

        store.setBool(prefs::isPaused, true);
        store.setText(prefs::selectedFolderID, QStringLiteral("ABC"));
        Preferences reopened(path());
        EXPECT_TRUE(reopened.boolValue(prefs::isPaused)) << bytes.toHex().toStdString();
        EXPECT_EQ(reopened.textValue(prefs::selectedFolderID), "ABC");
    }
}

TEST_F(PreferencesTest, AWriteSurvivesTheProcessBeingKilledRightAfterIt)
{
    const auto runWriter = [&](const QStringList& arguments) {
        QProcess writer;
        writer.start(QStringLiteral(PREFERENCE_WRITER), QStringList{path()} + arguments);
        EXPECT_TRUE(writer.waitForFinished(10000));
        EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit) << "the writer is meant to die by SIGKILL";
    };
    runWriter({QStringLiteral("isPaused"), QStringLiteral("bool"), QStringLiteral("true")});
    runWriter({QStringLiteral("globalNamingPrefix"), QStringLiteral("text"),
               QStringLiteral("From another process")});
    runWriter({QStringLiteral("thumbnailDuration"), QStringLiteral("double"), QStringLiteral("12.5")});

    Preferences store(path());
    EXPECT_TRUE(store.boolValue(prefs::isPaused));
    EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "From another process");
    EXPECT_DOUBLE_EQ(store.doubleValue(prefs::thumbnailDuration), 12.5);

    const QStringList leftovers = QDir(dir.path()).entryList(QDir::Files);
    for (const QString& name : leftovers)
        EXPECT_TRUE(name == u"Quillary.conf" || name.endsWith(u".lock"))
            << "stray file " << name.toStdString();
}

TEST_F(PreferencesTest, WritesFromManyThreadsAllLand)
{
    Preferences store(path());
    constexpr int threads = 4;
    const std::array<PreferenceKey, threads> keys{prefs::autoMove, prefs::globalIncludeDate,
                                                  prefs::popupSoundEnabled, prefs::clipboardSoundEnabled};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&store, key = keys[t]] {
            for (int i = 0; i < 25; ++i) {
                store.setBool(key, i % 2 == 0);
                (void)store.boolValue(prefs::showPopup);
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    Preferences reopened(path());
    for (const PreferenceKey& key : keys)
        EXPECT_TRUE(reopened.hasStoredValue(key)) << key.name;
}

TEST_F(PreferencesTest, EveryWriteAndRemovalIsAnnounced)
{
    Preferences store(path());
    QSignalSpy spy(&store, &Preferences::valueChanged);
    store.setText(prefs::activeTab, QStringLiteral("Created"));
    store.removeValue(prefs::activeTab);
    (void)store.textValue(prefs::activeTab);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), "activeTab");
    EXPECT_EQ(spy.at(1).at(0).toString(), "activeTab");
    EXPECT_EQ(store.textValue(prefs::activeTab), "Default");
}

} // namespace
