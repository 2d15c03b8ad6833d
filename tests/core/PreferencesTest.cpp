#include "core/Preferences.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
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

    QTemporaryDir dir;
};

TEST_F(PreferencesTest, EmptyStoreReadsEveryDefaultAndRegistrationWritesNothing)
{
    Preferences store(path());
    EXPECT_FALSE(store.boolValue(prefs::showPopup)) << "before registration an absent Boolean reads false";
    EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "");
    registerDefaultSettings(store);

    for (const auto& key : {prefs::showPopup, prefs::quickCreateEnabled})
        EXPECT_TRUE(store.boolValue(key)) << key.name;
    for (const auto& key : {prefs::autoMove, prefs::launchAtLogin, prefs::isGlobalRenamingEnabled,
                            prefs::globalIncludeDate, prefs::isClipboardSyncEnabled, prefs::popupSoundEnabled,
                            prefs::clipboardSoundEnabled, prefs::isPaused})
        EXPECT_FALSE(store.boolValue(key)) << key.name;
    const std::pair<PreferenceKey, const char*> texts[] = {
        {prefs::globalNamingPrefix, "Quil"},     {prefs::globalFileFormat, "png"},
        {prefs::clipboardSyncFolder, "Desktop"}, {prefs::quickCreateBaseFolder, "Desktop"},
        {prefs::popupSoundLevel, "high"},        {prefs::clipboardSoundLevel, "high"},
        {prefs::selectedFolderID, ""},           {prefs::activeTab, "Default"}};
    for (const auto& [key, text] : texts)
        EXPECT_EQ(store.textValue(key), text) << key.name;
    EXPECT_DOUBLE_EQ(store.doubleValue(prefs::thumbnailDuration), 5.0);
    EXPECT_FALSE(store.dataValue(prefs::folderBookmark).has_value());

    for (const PreferenceKey& key : prefs::allKeys)
        EXPECT_FALSE(store.hasStoredValue(key)) << key.name;
    EXPECT_FALSE(test::readFile(path()).contains("showPopup"));

    store.setBool(prefs::showPopup, false);
    EXPECT_FALSE(store.boolValue(prefs::showPopup)) << "a stored value wins over the registered default";
}

TEST_F(PreferencesTest, TypedValuesRoundTripThroughTheFileAndEveryWriteIsAnnounced)
{
    const QString awkward = QStringLiteral("Shots, \"best\" = ä/ü [x]");
    const QString json = QStringLiteral(R"([{"path":"Desktop\/Work","name":"a;b"}])");
    const QByteArray data("/home/u/Bilder\0x", 16);
    {
        Preferences store(path());
        QSignalSpy spy(&store, &Preferences::valueChanged);
        store.setBool(prefs::autoMove, true);
        store.setText(prefs::globalNamingPrefix, awkward);
        store.setText(prefs::selectedFolderID, QString());
        store.setDouble(prefs::thumbnailDuration, 2.5);
        store.setData(prefs::folderBookmark, data);
        store.setText(prefs::savedFolders, json);
        ASSERT_EQ(spy.count(), 6);
        EXPECT_EQ(spy.at(0).at(0).toString(), "autoMove");
    }
    Preferences reopened(path()); // a fresh store reads the file, not a cache
    registerDefaultSettings(reopened);
    EXPECT_TRUE(reopened.boolValue(prefs::autoMove));
    EXPECT_EQ(reopened.textValue(prefs::globalNamingPrefix), awkward);
    EXPECT_TRUE(reopened.hasStoredValue(prefs::selectedFolderID));
    EXPECT_EQ(reopened.textValue(prefs::selectedFolderID), "");
    EXPECT_DOUBLE_EQ(reopened.doubleValue(prefs::thumbnailDuration), 2.5);
    EXPECT_EQ(reopened.dataValue(prefs::folderBookmark), data);
    EXPECT_EQ(reopened.textValue(prefs::savedFolders), json);

    QSignalSpy spy(&reopened, &Preferences::valueChanged);
    reopened.removeValue(prefs::folderBookmark);
    EXPECT_EQ(spy.count(), 1) << "a removal is announced, reads are not";
    EXPECT_EQ(spy.at(0).at(0).toString(), "folderBookmark");
    EXPECT_FALSE(Preferences(path()).dataValue(prefs::folderBookmark).has_value());
}

TEST_F(PreferencesTest, WrongTypedCorruptOrHalfWrittenFilesReadAsDefaultsAndStayWritable)
{
    const QByteArray wrongTypes("[General]\nshowPopup=banana\nquickCreateEnabled=0\nthumbnailDuration=five\n"
                                "globalNamingPrefix=a, b\nglobalFileFormat=@ByteArray(jpg)\n"
                                "folderBookmark=/plain/text\nisPaused=yes\n");
    for (const QByteArray& bytes :
         {wrongTypes, QByteArray("\x89PNG\r\n\x1a\n\0\0\xff\xfe[[[=\n=\n\0", 17),
          QByteArray("[General]\nautoMove=true\nglobalNamingPrefix=\"unterminated\nthumbnailDuration=1."),
          QByteArray("[General\nshowPopup=false")}) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        test::writeFile(path(), bytes);
        Preferences store(path());
        registerDefaultSettings(store);
        EXPECT_EQ(store.textValue(prefs::clipboardSyncFolder), "Desktop");
        EXPECT_FALSE(store.boolValue(prefs::isPaused));
        if (bytes == wrongTypes) {
            EXPECT_TRUE(store.boolValue(prefs::showPopup));
            EXPECT_TRUE(store.boolValue(prefs::quickCreateEnabled));
            EXPECT_DOUBLE_EQ(store.doubleValue(prefs::thumbnailDuration), 5.0);
            EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "Quil");
            EXPECT_EQ(store.textValue(prefs::globalFileFormat), "png");
            EXPECT_FALSE(store.dataValue(prefs::folderBookmark).has_value());
        }
        store.setBool(prefs::isPaused, true); // writing through the store repairs the value
        store.setText(prefs::selectedFolderID, QStringLiteral("ABC"));
        Preferences reopened(path());
        EXPECT_TRUE(reopened.boolValue(prefs::isPaused));
        EXPECT_EQ(reopened.textValue(prefs::selectedFolderID), "ABC");
    }
}

TEST_F(PreferencesTest, AWriteSurvivesTheProcessBeingKilledRightAfterIt)
{
    for (const QStringList& arguments : {QStringList{"isPaused", "bool", "true"},
                                         QStringList{"globalNamingPrefix", "text", "From another process"},
                                         QStringList{"thumbnailDuration", "double", "12.5"}}) {
        QProcess writer;
        writer.start(QStringLiteral(PREFERENCE_WRITER), QStringList{path()} + arguments);
        EXPECT_TRUE(writer.waitForFinished(10000));
        EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit) << "the writer is meant to die by SIGKILL";
    }
    Preferences store(path());
    EXPECT_TRUE(store.boolValue(prefs::isPaused));
    EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "From another process");
    EXPECT_DOUBLE_EQ(store.doubleValue(prefs::thumbnailDuration), 12.5);
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
        EXPECT_TRUE(name == u"Quillary.conf" || name.endsWith(u".lock"))
            << "stray file " << name.toStdString();
}

TEST_F(PreferencesTest, WritesFromManyThreadsAllLand)
{
    Preferences store(path());
    const std::array keys{prefs::autoMove, prefs::globalIncludeDate, prefs::popupSoundEnabled,
                          prefs::clipboardSoundEnabled};
    std::vector<std::thread> workers;
    for (const PreferenceKey& key : keys) {
        workers.emplace_back([&store, key] {
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

} // namespace
