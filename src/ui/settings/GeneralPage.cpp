#include "ui/settings/GeneralPage.h"

#include "ui/settings/PageLayout.h"
#include "ui/settings/PreferenceBinding.h"
#include "ui/settings/SettingsHost.h"
#include "ui/settings/SettingsView.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/SettingsCard.h"
#include "ui/widgets/SettingsRow.h"
#include "ui/widgets/SettingsStyle.h"
#include "ui/widgets/ToggleSwitch.h"

#include "core/Interaction.h"
#include "core/Preferences.h"
#include "folders/FolderStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quillary {
namespace {

constexpr qreal kDimmedOpacity = 0.45;

const QString popupMode = QStringLiteral("popup");
const QString autoMode = QStringLiteral("auto");
const QString offMode = QStringLiteral("off");

// The handling mode the two stored switches describe; the popup wins when both are on.
QString handlingMode(const Preferences& store)
{
    if (store.boolValue(prefs::showPopup))
        return popupMode;
    return store.boolValue(prefs::autoMove) ? autoMode : offMode;
}

// `path` with the home folder shown as "~".
QString withTildeHome(const QString& path)
{
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (home != QStringLiteral("/") && path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

// A horizontal stack without margins, its items centred vertically.
QHBoxLayout* hStack(QWidget* owner, int spacing)
{
    auto* stack = new QHBoxLayout(owner);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(spacing);
    stack->setAlignment(Qt::AlignVCenter);
    return stack;
}

QPushButton* smallButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFont(style::font(button->font(), 12));
    button->setAutoDefault(false);
    return button;
}

} // namespace

GeneralPage::GeneralPage(SettingsView& view)
    : QWidget(&view)
    , m_view(view)
{
    auto* page = pageStack(this, 20);
    buildWatchedFolder(page);
    buildHandling(page);
    buildGlobal(page);
}

void GeneralPage::buildWatchedFolder(QVBoxLayout* page)
{
    addHeading(page, QStringLiteral("WATCHED FOLDER"));
    auto* buttons = new QWidget(this);
    auto* buttonRow = hStack(buttons, 8);
    m_change = smallButton(QStringLiteral("Change…"), buttons);
    m_autoDetect = smallButton(QStringLiteral("Auto-Detect"), buttons);
    m_change->setAccessibleName(QStringLiteral("Change watched folder"));
    m_autoDetect->setAccessibleName(QStringLiteral("Auto-detect watched folder"));
    buttonRow->addWidget(m_change);
    buttonRow->addWidget(m_autoDetect);
    m_watchedFolderRow = new SettingsRow({}, style::green, {}, {}, buttons);
    m_watchedFolderRow->setTitleElideMode(Qt::ElideMiddle);
    auto* card = new SettingsCard(this);
    card->addWidget(m_watchedFolderRow);
    page->addWidget(card);

    connect(m_change, &QPushButton::clicked, this, &GeneralPage::chooseWatchFolder);
    connect(m_autoDetect, &QPushButton::clicked, this, &GeneralPage::autoDetectWatchFolder);
    connect(&m_view, &SettingsView::watchStateChanged, this, &GeneralPage::refreshWatchedFolder);
    refreshWatchedFolder();
}

void GeneralPage::buildHandling(QVBoxLayout* page)
{
    Preferences& store = m_view.store();
    addHeading(page, QStringLiteral("WHEN A SCREENSHOT IS TAKEN"));
    auto* card = new SettingsCard(this);

    m_handling = new SegmentedControl(this);
    m_handling->addSegment(QStringLiteral("Popup"), popupMode);
    m_handling->addSegment(QStringLiteral("Auto-move"), autoMode);
    m_handling->addSegment(QStringLiteral("Off"), offMode);
    m_handling->setFixedWidth(230);
    m_handling->setAccessibleName(QStringLiteral("Screenshot handling"));
    m_handlingRow = new SettingsRow(QStringLiteral("camera.viewfinder"), style::blue,
                                    QStringLiteral("Screenshot handling"), {}, m_handling);
    card->addWidget(m_handlingRow);
    followKeys(m_handling, store, {&prefs::showPopup, &prefs::autoMove},
               [this, &store] { m_handling->setValue(handlingMode(store)); });
    connect(m_handling, &SegmentedControl::activated, this, [&store](const QString& mode) {
        store.setBool(prefs::showPopup, mode == popupMode);
        store.setBool(prefs::autoMove, mode == autoMode);
    });
    followKeys(m_handlingRow, store, {&prefs::showPopup, &prefs::autoMove, &prefs::selectedFolderID},
               [this] { refreshHandlingSubtitle(); });
    connect(&m_view.folders(), &FolderStore::foldersChanged, this, &GeneralPage::refreshHandlingSubtitle);
    card->addDivider();

    auto* duration = new QWidget(this);
    auto* durationRow = hStack(duration, 4);
    m_thumbnail = new QLineEdit(duration);
    m_thumbnail->setFixedWidth(44);
    m_thumbnail->setAlignment(Qt::AlignCenter);
    m_thumbnail->setAccessibleName(QStringLiteral("System thumbnail duration"));
    auto* seconds = new QLabel(QStringLiteral("s"), duration);
    seconds->setFont(style::font(seconds->font(), 12));
    style::useSecondaryText(*seconds, seconds->palette());
    durationRow->addWidget(m_thumbnail);
    durationRow->addWidget(seconds);
    m_thumbnailRow = new SettingsRow(
        QStringLiteral("timer"), style::orange, QStringLiteral("System thumbnail duration"),
        QStringLiteral("How long the screenshot tool's corner preview stays on screen (5–19 s)"), duration);
    card->addWidget(m_thumbnailRow);
    followKeys(m_thumbnail, store, {&prefs::thumbnailDuration}, [this] { showThumbnailDuration(); });
    connect(m_thumbnail, &QLineEdit::editingFinished, this, &GeneralPage::commitThumbnailDuration);
    // Only auto-move reads the duration, whatever the handling row says.
    followKeys(m_thumbnailRow, store, {&prefs::autoMove}, [this, &store] {
        setDimmed(m_thumbnailRow, !store.boolValue(prefs::autoMove), kDimmedOpacity);
    });
    card->addDivider();

    m_quickCreate = folderNamePicker({QStringLiteral("Desktop"), QStringLiteral("Downloads"),
                                      QStringLiteral("Documents"), QStringLiteral("Pictures")},
                                     this);
    m_quickCreate->setAccessibleName(QStringLiteral("Quick create folder (+)"));
    m_quickCreateRow =
        new SettingsRow(QStringLiteral("plus.square"), style::blue, QStringLiteral("Quick create folder (+)"),
                        QStringLiteral("Where the popup's + button creates new folders"), m_quickCreate);
    card->addWidget(m_quickCreateRow);
    bindChoice(m_quickCreate, store, prefs::quickCreateBaseFolder);
    followKeys(m_quickCreateRow, store, {&prefs::quickCreateEnabled}, [this, &store] {
        setDimmed(m_quickCreateRow, !store.boolValue(prefs::quickCreateEnabled), kDimmedOpacity);
    });
    page->addWidget(card);
}

void GeneralPage::buildGlobal(QVBoxLayout* page)
{
    Preferences& store = m_view.store();
    addHeading(page, QStringLiteral("GLOBAL"));
    auto* card = new SettingsCard(this);

    m_launchAtLogin = new ToggleSwitch(this);
    m_launchAtLogin->setAccessibleName(QStringLiteral("Launch at Login"));
    card->addWidget(new SettingsRow(QStringLiteral("arrow.right.square"), style::purple,
                                    QStringLiteral("Launch at Login"),
                                    QStringLiteral("Start automatically when you sign in"), m_launchAtLogin));
    bindToggle(m_launchAtLogin, store, prefs::launchAtLogin);
    // Only the user's own clicks reach here: the binding keeps its signals quiet while it follows.
    connect(m_launchAtLogin, &ToggleSwitch::toggled, this, [this](bool on) {
        if (SettingsHost* host = m_view.host())
            host->setLaunchAtLogin(on);
    });
    card->addDivider();

    auto* rename = new QWidget(this);
    auto* renameStack = new QVBoxLayout(rename);
    renameStack->setContentsMargins(0, 0, 0, 0);
    renameStack->setSpacing(0);
    m_globalRename = new ToggleSwitch(rename);
    m_globalRename->setAccessibleName(QStringLiteral("Global Rename"));
    m_globalRenameRow = new SettingsRow(QStringLiteral("pencil.line"), style::mint,
                                        QStringLiteral("Global Rename"), {}, m_globalRename, rename);
    renameStack->addWidget(m_globalRenameRow);

    m_renameOptions = new QWidget(rename);
    auto* options = hStack(m_renameOptions, 10);
    options->setContentsMargins(42, 4, 0, 4);
    m_prefix = new QLineEdit(m_renameOptions);
    m_prefix->setPlaceholderText(QStringLiteral("Prefix"));
    m_prefix->setAccessibleName(QStringLiteral("Prefix"));
    m_prefix->setMinimumWidth(80);
    m_prefix->setMaximumWidth(140);
    m_format = new SegmentedControl(m_renameOptions);
    m_format->addSegment(QStringLiteral("PNG"), QStringLiteral("png"));
    m_format->addSegment(QStringLiteral("JPG"), QStringLiteral("jpg"));
    m_format->addSegment(QStringLiteral("PDF"), QStringLiteral("pdf"));
    m_format->setFixedWidth(150);
    m_format->setAccessibleName(QStringLiteral("File format"));
    m_date = new QCheckBox(QStringLiteral("Date"), m_renameOptions);
    m_date->setFont(style::font(m_date->font(), 11));
    m_date->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    options->addWidget(m_prefix, 1);
    options->addWidget(m_format);
    options->addWidget(m_date);
    options->addStretch();
    renameStack->addWidget(m_renameOptions);
    card->addWidget(rename);
    page->addWidget(card);

    bindToggle(m_globalRename, store, prefs::isGlobalRenamingEnabled);
    bindText(m_prefix, store, prefs::globalNamingPrefix);
    bindSegments(m_format, store, prefs::globalFileFormat);
    bindToggle(m_date, store, prefs::globalIncludeDate);
    followKeys(m_globalRenameRow, store, {&prefs::isGlobalRenamingEnabled}, [this, &store] {
        const bool on = store.boolValue(prefs::isGlobalRenamingEnabled);
        m_globalRenameRow->setSubtitle(
            on ? QStringLiteral("Overrides per-folder rename rules")
               : QStringLiteral("Enable to apply rename rules to all screenshots"));
        m_renameOptions->setVisible(on);
    });
}

void GeneralPage::refreshWatchedFolder()
{
    const QString path = m_view.watchFolderPath();
    const bool accessOK = m_view.watchAccessOK();
    const bool custom = m_view.watchIsCustom();
    m_watchedFolderRow->setIcon(accessOK ? QStringLiteral("folder.badge.gearshape")
                                         : QStringLiteral("exclamationmark.triangle.fill"),
                                accessOK ? style::green : style::red);
    m_watchedFolderRow->setTitle(path.isEmpty() ? QStringLiteral("Detecting screenshot folder…")
                                                : withTildeHome(path));
    m_watchedFolderRow->setToolTip(path); // the whole path, when the title had to shorten it
    if (!accessOK)
        m_watchedFolderRow->setSubtitle(
            QStringLiteral("No permission — click Change… and re-select this folder to grant access"));
    else if (custom)
        m_watchedFolderRow->setSubtitle(QStringLiteral("New screenshots in this folder are detected"));
    else
        m_watchedFolderRow->setSubtitle(QStringLiteral("Auto-detected from your screenshot tool's settings"));
    m_autoDetect->setVisible(custom);
}

void GeneralPage::refreshHandlingSubtitle()
{
    const Preferences& store = m_view.store();
    const QString mode = handlingMode(store);
    if (mode == popupMode) {
        m_handlingRow->setSubtitle(QStringLiteral("Popup asks where to move each screenshot"));
    } else if (mode == autoMode) {
        const std::optional<FolderConfig> selected =
            m_view.folders().find(store.textValue(prefs::selectedFolderID));
        const QString name = selected ? selected->name : QStringLiteral("Desktop");
        m_handlingRow->setSubtitle(
            QStringLiteral("Move automatically to \"%1\" — pick the folder in the Folders tab").arg(name));
    } else {
        m_handlingRow->setSubtitle(
            QStringLiteral("Do nothing — screenshots stay where your screenshot tool saves them"));
    }
}

void GeneralPage::chooseWatchFolder()
{
    Interaction* interaction = m_view.interaction();
    if (!interaction)
        return;
    const std::optional<QUrl> folder =
        interaction->chooseFolder(QStringLiteral("Choose the folder where your screenshot tool saves "
                                                 "screenshots (often Pictures/Screenshots or Desktop)."),
                                  QStringLiteral("Watch This Folder"));
    if (!folder || folder->isEmpty())
        return;
    // The host restarts the watch, which posts the state change this row follows.
    if (SettingsHost* host = m_view.host())
        host->setCustomWatchFolder(*folder);
}

void GeneralPage::autoDetectWatchFolder()
{
    SettingsHost* host = m_view.host();
    if (!host)
        return;
    m_view.store().removeValue(prefs::folderBookmark);
    host->startWatching();
}

void GeneralPage::commitThumbnailDuration()
{
    bool isNumber = false;
    const double entered = QLocale().toDouble(m_thumbnail->text().trimmed(), &isNumber);
    if (!isNumber || !std::isfinite(entered)) {
        showThumbnailDuration();
        return;
    }
    // The system thumbnail's duration has no counterpart on Linux: only the preference is kept.
    m_view.store().setDouble(prefs::thumbnailDuration,
                             std::clamp(entered, minThumbnailSeconds, maxThumbnailSeconds));
    showThumbnailDuration();
}

void GeneralPage::showThumbnailDuration()
{
    m_thumbnail->setText(QLocale().toString(m_view.store().doubleValue(prefs::thumbnailDuration)));
}

} // namespace quillary
