#pragma once

#include <array>
#include <string_view>

namespace quillary {

enum class PreferenceType { Boolean, Text, Data, Double };

// One stored preference: its key, its type and the value a read gives when nothing usable is stored.
// `isRegistered` marks the keys whose default is registered in memory at start-up; for the others the
// default is only what a read of an absent key gives.
struct PreferenceKey {
    std::string_view name;
    PreferenceType type;
    bool isRegistered;
    bool boolDefault = false;
    std::string_view textDefault = {};
    double doubleDefault = 0.0;
};

namespace prefs {

using enum PreferenceType;

// Registered defaults.
inline constexpr PreferenceKey showPopup{"showPopup", Boolean, true, true};
inline constexpr PreferenceKey autoMove{"autoMove", Boolean, true, false};
inline constexpr PreferenceKey launchAtLogin{"launchAtLogin", Boolean, true, false};
inline constexpr PreferenceKey isGlobalRenamingEnabled{"isGlobalRenamingEnabled", Boolean, true, false};
inline constexpr PreferenceKey globalNamingPrefix{"globalNamingPrefix", Text, true, false, "Quil"};
inline constexpr PreferenceKey globalIncludeDate{"globalIncludeDate", Boolean, true, false};
inline constexpr PreferenceKey globalFileFormat{"globalFileFormat", Text, true, false, "png"};
inline constexpr PreferenceKey thumbnailDuration{"thumbnailDuration", Double, true, false, {}, 5.0};
inline constexpr PreferenceKey isClipboardSyncEnabled{"isClipboardSyncEnabled", Boolean, true, false};
inline constexpr PreferenceKey clipboardSyncFolder{"clipboardSyncFolder", Text, true, false, "Desktop"};
inline constexpr PreferenceKey quickCreateEnabled{"quickCreateEnabled", Boolean, true, true};
inline constexpr PreferenceKey quickCreateBaseFolder{"quickCreateBaseFolder", Text, true, false, "Desktop"};
inline constexpr PreferenceKey popupSoundEnabled{"popupSoundEnabled", Boolean, true, false};
inline constexpr PreferenceKey clipboardSoundEnabled{"clipboardSoundEnabled", Boolean, true, false};
inline constexpr PreferenceKey popupSoundLevel{"popupSoundLevel", Text, true, false, "high"};
inline constexpr PreferenceKey clipboardSoundLevel{"clipboardSoundLevel", Text, true, false, "high"};

// Keys without registered defaults.
inline constexpr PreferenceKey isPaused{"isPaused", Boolean, false, false};
inline constexpr PreferenceKey folderBookmark{"folderBookmark", Data, false};
inline constexpr PreferenceKey selectedFolderID{"selectedFolderID", Text, false, false, ""};
inline constexpr PreferenceKey savedFolders{"savedFolders_v2", Text, false, false, "[]"};
// The folder list text that could not be read, kept when the standard folders replaced it.
inline constexpr PreferenceKey savedFoldersUnreadable{"savedFolders_v2_unreadable", Text, false, false, ""};
inline constexpr PreferenceKey activeTab{"activeTab", Text, false, false, "Default"};

inline constexpr std::array allKeys{
    showPopup,
    autoMove,
    launchAtLogin,
    isGlobalRenamingEnabled,
    globalNamingPrefix,
    globalIncludeDate,
    globalFileFormat,
    thumbnailDuration,
    isClipboardSyncEnabled,
    clipboardSyncFolder,
    quickCreateEnabled,
    quickCreateBaseFolder,
    popupSoundEnabled,
    clipboardSoundEnabled,
    popupSoundLevel,
    clipboardSoundLevel,
    isPaused,
    folderBookmark,
    selectedFolderID,
    savedFolders,
    savedFoldersUnreadable,
    activeTab,
};

} // namespace prefs
} // namespace quillary
