#include "ui/settings/SoundsClipboardPage.h"

#include "ui/settings/PageLayout.h"
#include "ui/settings/PreferenceBinding.h"
#include "ui/settings/SettingsHost.h"
#include "ui/settings/SettingsView.h"
#include "ui/widgets/SectionLabel.h"
#include "ui/widgets/SettingsCard.h"
#include "ui/widgets/SettingsRow.h"
#include "ui/widgets/SettingsStyle.h"
#include "ui/widgets/ToggleSwitch.h"

#include "core/Preferences.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

namespace quillary {

SoundsClipboardPage::SoundsClipboardPage(SettingsView& view)
    : QWidget(&view)
    , m_clipboardSwitch(new ToggleSwitch(this))
    , m_clipboardFolder(folderNamePicker({QStringLiteral("Desktop"), QStringLiteral("Downloads"),
                                          QStringLiteral("Documents"), QStringLiteral("Pictures")},
                                         this))
    , m_popupSound(new ToggleSwitch(this))
    , m_clipboardSound(new ToggleSwitch(this))
{
    Preferences& store = view.store();
    const QColor accent = style::accent(palette());
    auto* page = pageStack(this, 20);

    addHeading(page, QStringLiteral("CLIPBOARD MANAGEMENT"),
               QStringLiteral("Configure how clipboard screenshots are saved."));
    m_clipboardSwitch->setAccessibleName(QStringLiteral("Sync to Clipboard Folder"));
    m_clipboardFolder->setAccessibleName(QStringLiteral("Clipboard folder"));
    auto* controls = new QWidget(this);
    auto* controlRow = new QHBoxLayout(controls);
    controlRow->setContentsMargins(0, 0, 0, 0);
    controlRow->setSpacing(12);
    controlRow->addWidget(m_clipboardSwitch);
    controlRow->addWidget(m_clipboardFolder);
    auto* syncRow = new SettingsRow(QStringLiteral("doc.on.clipboard"), accent,
                                    QStringLiteral("Sync to Clipboard Folder"),
                                    QStringLiteral("Shift + Cmd + Ctrl + 3 or 4"), controls);
    syncRow->layout()->setContentsMargins(0, 4, 0, 4);
    auto* clipboardCard = new SettingsCard(this);
    clipboardCard->addWidget(syncRow);
    if (const QString reason = view.host() ? view.host()->clipboardUnavailableReason() : QString();
        !reason.isEmpty()) {
        m_clipboardNote = new QLabel(QStringLiteral("⚠️ ") + reason, clipboardCard);
        m_clipboardNote->setWordWrap(true);
        m_clipboardNote->setFont(style::font(font(), 11));
        m_clipboardNote->setIndent(40);
        clipboardCard->addWidget(m_clipboardNote);
    }
    page->addWidget(clipboardCard);
    bindToggle(m_clipboardSwitch, store, prefs::isClipboardSyncEnabled);
    bindChoice(m_clipboardFolder, store, prefs::clipboardSyncFolder);
    followKeys(this, store, {&prefs::isClipboardSyncEnabled}, [this, &store] {
        setDimmed(m_clipboardFolder, !store.boolValue(prefs::isClipboardSyncEnabled), 0.5);
    });

    addHeading(page, QStringLiteral("AUDIO FEEDBACK"),
               QStringLiteral("Adjust volume intensity for system event cues."));
    m_popupSound->setAccessibleName(QStringLiteral("Popup sound cue"));
    m_clipboardSound->setAccessibleName(QStringLiteral("Clipboard sound cue"));
    auto* soundCard = new SettingsCard(this);
    soundCard->addWidget(new SettingsRow(QStringLiteral("bell"), accent, QStringLiteral("Popup sound cue"),
                                         QStringLiteral("Plays when a screenshot is detected"),
                                         m_popupSound));
    soundCard->addDivider();
    soundCard->addWidget(
        new SettingsRow(QStringLiteral("doc.on.clipboard"), accent, QStringLiteral("Clipboard sound cue"),
                        QStringLiteral("Plays for clipboard screenshots"), m_clipboardSound));
    page->addWidget(soundCard);
    bindToggle(m_popupSound, store, prefs::popupSoundEnabled);
    bindToggle(m_clipboardSound, store, prefs::clipboardSoundEnabled);
}

} // namespace quillary
