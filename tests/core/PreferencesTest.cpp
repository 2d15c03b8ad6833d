#include "core/Preferences.h"
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

    QTemporaryDir dir;
};

// Registered defaults are never written; every write and removal reaches the file and is announced.
TEST_F(PreferencesTest, TypedValuesRoundTripThroughTheFile)
{
    const QString awkward = QStringLiteral("Shots, \"best\" = ä/ü [x]");
    const QByteArray data("/home/u/Bilder\0x", 16);
    Preferences store(path());
    EXPECT_FALSE(store.boolValue(prefs::showPopup)) << "before registration an absent Boolean reads false";
    registerDefaultSettings(store);
    EXPECT_TRUE(store.boolValue(prefs::showPopup));
    EXPECT_FALSE(QFile::exists(path())) << "registration wrote something";
    QSignalSpy spy(&store, &Preferences::valueChanged);
    store.setBool(prefs::showPopup, false);
    store.setText(prefs::globalNamingPrefix, awkward);
    store.setText(prefs::selectedFolderID, QString());
    store.setDouble(prefs::thumbnailDuration, 2.5);
    store.setData(prefs::folderBookmark, data);
    store.removeValue(prefs::isPaused);
    EXPECT_EQ(spy.count(), 6);
    EXPECT_EQ(spy.at(0).at(0).toString(), "showPopup");

    Preferences reopened(path());
    registerDefaultSettings(reopened);
    EXPECT_FALSE(reopened.boolValue(prefs::showPopup)) << "a stored value wins over the registered default";
    EXPECT_EQ(reopened.textValue(prefs::globalNamingPrefix), awkward);
    EXPECT_TRUE(reopened.hasStoredValue(prefs::selectedFolderID));
    EXPECT_EQ(reopened.textValue(prefs::selectedFolderID), "");
    EXPECT_DOUBLE_EQ(reopened.doubleValue(prefs::thumbnailDuration), 2.5);
    EXPECT_EQ(reopened.dataValue(prefs::folderBookmark), data);
    reopened.removeValue(prefs::folderBookmark);
    EXPECT_FALSE(Preferences(path()).dataValue(prefs::folderBookmark).has_value());
}

// A value of the wrong type reads as if absent; whatever the file holds, a write through the store lands.
TEST_F(PreferencesTest, WrongTypedCorruptOrHalfWrittenFilesReadAsDefaultsAndStayWritable)
{
    const QByteArray wrongTypes(
        "[General]\nshowPopup=banana\nthumbnailDuration=five\nglobalNamingPrefix=a, b\n"
        "globalFileFormat=@ByteArray(jpg)\nfolderBookmark=/plain/text\nisPaused=yes\n");
    const QString absent = dir.filePath(QStringLiteral("absent.conf"));
    for (const QByteArray& bytes :
         {wrongTypes, QByteArray("\x89PNG\r\n\x1a\n\0\0\xff\xfe[[[=\n=\n\0", 17),
          QByteArray("[General]\nautoMove=true\nselectedFolderID=\"unterminat"),
          QByteArray("[General\nautoMove=1"),
          // infinity as a binary double
          QByteArray("thumbnailDuration=@Variant(\\0\\0\\0\\x6\\x7f\\xf0\\0\\0\\0\\0\\0\\0)")}) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        test::writeFile(path(), bytes);
        Preferences store(path()), clean(absent);
        registerDefaultSettings(store);
        registerDefaultSettings(clean);
        for (const auto& key : {prefs::showPopup, prefs::isPaused})
            EXPECT_EQ(store.boolValue(key), clean.boolValue(key)) << key.name;
        for (const auto& key : {prefs::globalNamingPrefix, prefs::globalFileFormat})
            EXPECT_EQ(store.textValue(key), clean.textValue(key)) << key.name;
        EXPECT_EQ(store.doubleValue(prefs::thumbnailDuration), clean.doubleValue(prefs::thumbnailDuration));
        EXPECT_FALSE(store.dataValue(prefs::folderBookmark).has_value());
        store.setBool(prefs::isPaused, true);
        EXPECT_TRUE(Preferences(path()).boolValue(prefs::isPaused));
    }
}

TEST_F(PreferencesTest, AWriteSurvivesTheProcessBeingKilledRightAfterIt)
{
    for (const QStringList& arguments : {QStringList{"isPaused", "bool", "true"},
                                         QStringList{"globalNamingPrefix", "text", "From another process"},
                                         QStringList{"thumbnailDuration", "double", "12.5"}}) {
        EXPECT_EQ(QProcess::execute(QStringLiteral(PREFERENCE_WRITER), QStringList{path()} + arguments), -1)
            << "the writer is meant to die by SIGKILL";
    }
    Preferences store(path());
    EXPECT_TRUE(store.boolValue(prefs::isPaused));
    EXPECT_EQ(store.textValue(prefs::globalNamingPrefix), "From another process");
    EXPECT_DOUBLE_EQ(store.doubleValue(prefs::thumbnailDuration), 12.5);
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
        EXPECT_TRUE(name == u"Quillary.conf" || name.endsWith(u".lock"))
            << "stray file " << name.toStdString();
}

// In the file, and in memory where the path is not a regular file (here a folder).
TEST_F(PreferencesTest, WritesFromManyThreadsAllLand)
{
    const std::array keys{prefs::autoMove, prefs::globalIncludeDate, prefs::popupSoundEnabled,
                          prefs::clipboardSoundEnabled};
    for (const auto& [where, rounds] : {std::pair{path(), 25}, std::pair{dir.path(), 2000}}) {
        testing::internal::CaptureStdout(); // the warning about the folder
        Preferences store(where);
        testing::internal::GetCapturedStdout();
        {
            std::vector<std::jthread> workers;
            for (const PreferenceKey& key : keys) {
                workers.emplace_back([&store, key, rounds] {
                    for (int i = 0; i < rounds; ++i) {
                        if ((rounds - i) % 2 == 1 || store.boolValue(prefs::showPopup))
                            store.setBool(key, true);
                        else
                            store.removeValue(key);
                    }
                });
            }
        }
        for (const PreferenceKey& key : keys)
            EXPECT_TRUE(Preferences(path()).boolValue(key) && store.boolValue(key))
                << key.name; // the last writes
    }
}

} // namespace
