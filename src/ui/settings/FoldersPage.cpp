#include "ui/settings/FoldersPage.h"

#include "ui/settings/FolderRow.h"
#include "ui/settings/PageLayout.h"
#include "ui/settings/PreferenceBinding.h"
#include "ui/settings/SettingsView.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/SettingsCard.h"
#include "ui/widgets/SettingsStyle.h"
#include "ui/widgets/SymbolIcon.h"

#include "core/FileNames.h"
#include "core/Interaction.h"
#include "core/Preferences.h"
#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"
#include "platform/Trash.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace quillary {
namespace {

constexpr int kListHeight = 380;
// Far more rows than anyone keeps by hand; a list that grew beyond them shows how many are left out.
constexpr qsizetype kMaxRows = 200;

// The list's backdrop: a faint fill of the control background, rounded, with a hairline border.
class ListFrame final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(style::withOpacity(palette().color(QPalette::WindowText), 0.06), 1));
        painter.setBrush(style::withOpacity(palette().color(QPalette::Base), 0.3));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    }
};

// The widget's colours as drawn while enabled, for what is worked out once and kept (icons, style
// sheets): the page may be disabled at that moment.
QPalette enabledColors(const QWidget* widget)
{
    QPalette colors = widget->palette();
    colors.setCurrentColorGroup(QPalette::Active);
    return colors;
}

QLabel* secondaryLabel(const QString& text, int pixels, QFont::Weight weight, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(style::font(label->font(), pixels, weight));
    style::useSecondaryText(*label, enabledColors(label));
    return label;
}

QString rgba(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

// A small button filled with `tint`, its label in `text`.
void setProminent(QPushButton* button, const QColor& tint, const QColor& text)
{
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: %2; border: none; border-radius: 5px;"
                       " padding: 3px 10px; }"
                       "QPushButton:focus { border: 1px solid %3; }"
                       "QPushButton:pressed { background-color: %4; }"
                       "QPushButton:disabled { background-color: %5; color: %6; }")
            .arg(rgba(tint), rgba(text), rgba(style::withOpacity(text, 0.7)), rgba(tint.darker(120)),
                 rgba(style::withOpacity(tint, 0.35)), rgba(style::withOpacity(text, 0.8))));
}

// Spaces and tabs only; other white space counts as part of a name.
bool isBlankName(const QString& name)
{
    return std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c == u' ' || c == u'\t'; });
}

// A name that would put the folder somewhere other than inside the chosen parent.
bool isRefusedName(const QString& name)
{
    return name.contains(u'/') || name == u"." || name == u"..";
}

// The path with every link and "." or ".." resolved; nothing when something on the way is missing.
std::optional<QString> realPath(const QString& path)
{
    char* resolved = ::realpath(toNativePath(path).constData(), nullptr);
    if (!resolved)
        return std::nullopt;
    const QString result = fromNativePath(QByteArray(resolved));
    std::free(resolved);
    return result;
}

bool isStrictlyInside(const QString& path, const QString& folder)
{
    if (folder == u"/")
        return path.size() > 1 && path.startsWith(u'/');
    return path.startsWith(folder + u'/');
}

// Whether the item at `path` may go to the Trash as a custom folder: it lies strictly inside one of
// the standard directories, and is neither one of them nor holds one. Links are followed first, so
// neither a stored record nor a link can point the Trash at anything else.
bool mayTrashCustomFolder(const QString& path)
{
    const std::optional<QString> real = realPath(path);
    if (!real)
        return false;
    bool inside = false;
    for (const QString& name : standardFolderNames()) {
        const QString standard = standardDirectoryURL(name).toLocalFile();
        const QString resolved = realPath(standard).value_or(QDir::cleanPath(standard));
        if (*real == resolved || isStrictlyInside(resolved, *real))
            return false;
        inside = inside || isStrictlyInside(*real, resolved);
    }
    return inside;
}

} // namespace

QString folderTabValue(FolderTab tab)
{
    return tab == FolderTab::createdFolders ? QStringLiteral("Created") : QStringLiteral("Default");
}

FolderTab folderTabFromValue(const QString& value)
{
    return value == u"Created" ? FolderTab::createdFolders : FolderTab::defaultFolders;
}

FoldersPage::FoldersPage(SettingsView& view)
    : QWidget(&view)
    , m_view(view)
    , m_tabs(new SegmentedControl(this))
    , m_add(new QPushButton(this))
    , m_form(new SettingsCard(this))
    , m_newName(new QLineEdit(m_form))
    , m_parent(folderNamePicker({QStringLiteral("Desktop"), QStringLiteral("Documents"),
                                 QStringLiteral("Downloads"), QStringLiteral("Pictures")},
                                m_form))
    , m_create(new QPushButton(QStringLiteral("Create"), m_form))
{
    Preferences& store = view.store();
    auto* page = pageStack(this, 14);

    // The header row, with the caption 6 px closer under it than the page's spacing.
    auto* top = new QWidget(this);
    auto* topRows = new QVBoxLayout(top);
    topRows->setContentsMargins(0, 0, 0, 0);
    topRows->setSpacing(14 - 6);
    auto* header = new QHBoxLayout;
    m_tabs->addSegment(QStringLiteral("Default Folders"), folderTabValue(FolderTab::defaultFolders));
    m_tabs->addSegment(QStringLiteral("Custom Folders"), folderTabValue(FolderTab::createdFolders));
    m_tabs->setFixedWidth(260);
    m_tabs->setAccessibleName(QStringLiteral("Folder List"));
    header->addWidget(m_tabs);
    header->addStretch();
    m_add->setFont(style::font(m_add->font(), 12, QFont::DemiBold));
    m_add->setIconSize({11, 11});
    m_add->setCursor(Qt::PointingHandCursor);
    header->addWidget(m_add);
    topRows->addLayout(header);
    QLabel* caption =
        secondaryLabel(QStringLiteral("The selected folder is used as the Auto-Move destination. Custom "
                                      "folders support per-folder rename rules."),
                       11, QFont::Normal, top);
    caption->setWordWrap(true);
    topRows->addWidget(caption);
    page->addWidget(top);

    // The new-folder form.
    auto* form = new QWidget(m_form);
    auto* formRows = new QVBoxLayout(form);
    formRows->setContentsMargins(0, 0, 0, 0);
    formRows->setSpacing(10);
    QLabel* formCaption = secondaryLabel(QStringLiteral("NEW FOLDER"), 9, QFont::Bold, form);
    QFont captionFont = formCaption->font();
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    formCaption->setFont(captionFont);
    formRows->addWidget(formCaption);
    auto* fields = new QHBoxLayout;
    fields->setSpacing(10);
    m_newName->setPlaceholderText(QStringLiteral("Enter folder name"));
    m_newName->setAccessibleName(QStringLiteral("New Folder Name"));
    fields->addWidget(m_newName, 1);
    fields->addWidget(secondaryLabel(QStringLiteral("in"), 12, QFont::Normal, form));
    m_parent->setAccessibleName(QStringLiteral("Parent Folder"));
    fields->addWidget(m_parent);
    m_create->setAccessibleName(QStringLiteral("Create"));
    m_create->setEnabled(false);
    setProminent(m_create, style::accent(enabledColors(this)),
                 enabledColors(this).color(QPalette::HighlightedText));
    fields->addWidget(m_create);
    formRows->addLayout(fields);
    m_form->addWidget(form);
    page->addWidget(m_form);

    // The list, or the empty state in its place.
    auto* list = new ListFrame(this);
    // As tall as what it shows: the page's spare height stays below it.
    list->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* listRows = new QVBoxLayout(list);
    listRows->setContentsMargins(0, 0, 0, 0);
    listRows->setSpacing(0);
    m_emptyState = new QWidget(list);
    m_emptyState->setFixedHeight(kListHeight);
    auto* emptyRows = new QVBoxLayout(m_emptyState);
    emptyRows->setSpacing(12);
    emptyRows->addStretch();
    auto* emptySymbol = new QLabel(m_emptyState);
    emptySymbol->setPixmap(symbolIcon(QStringLiteral("folder.badge.questionmark"),
                                      style::withOpacity(style::secondaryText(enabledColors(this)), 0.4), 32)
                               .pixmap(32, 32));
    emptySymbol->setAlignment(Qt::AlignCenter);
    emptyRows->addWidget(emptySymbol);
    QLabel* emptyText =
        secondaryLabel(QStringLiteral("No custom folders created yet."), 13, QFont::Normal, m_emptyState);
    emptyText->setAlignment(Qt::AlignCenter);
    emptyRows->addWidget(emptyText);
    emptyRows->addStretch();
    listRows->addWidget(m_emptyState);

    m_scroll = new QScrollArea(list);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setAccessibleName(QStringLiteral("Folders"));
    m_rowsHost = new QWidget(m_scroll);
    m_rowsLayout = new QVBoxLayout(m_rowsHost);
    m_rowsLayout->setContentsMargins(8, 8, 8, 8);
    m_rowsLayout->setSpacing(4);
    m_rowsLayout->setAlignment(Qt::AlignTop);
    m_scroll->setWidget(m_rowsHost);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_rowsHost->setAutoFillBackground(false);
    // The list is as tall as its rows, up to its limit; an editor opening or closing changes that.
    m_rowsHost->installEventFilter(this);
    listRows->addWidget(m_scroll);
    m_moreRows = secondaryLabel(QString(), 11, QFont::Normal, list);
    m_moreRows->setObjectName(QStringLiteral("moreFolders"));
    m_moreRows->setAlignment(Qt::AlignCenter);
    m_moreRows->hide();
    listRows->addWidget(m_moreRows);
    page->addWidget(list);

    connect(m_tabs, &SegmentedControl::activated, this,
            [&store](const QString& value) { store.setText(prefs::activeTab, value); });
    connect(m_add, &QPushButton::clicked, this, [this] { setAddingFolder(!m_isAddingFolder); });
    connect(m_newName, &QLineEdit::textChanged, this,
            [this](const QString& name) { m_create->setEnabled(!isBlankName(name)); });
    connect(m_create, &QPushButton::clicked, this, &FoldersPage::createFolder);
    connect(&view.folders(), &FolderStore::foldersChanged, this, &FoldersPage::refreshRows);

    followKeys(this, store, {&prefs::activeTab}, [this] {
        m_tabs->setValue(folderTabValue(activeTab()));
        updateHeader();
        refreshRows();
    });
    followKeys(this, store, {&prefs::selectedFolderID}, [this] { updateSelection(); });
    followKeys(this, store, {&prefs::showPopup, &prefs::autoMove}, [this, &store] {
        setDimmed(this, !store.boolValue(prefs::showPopup) && !store.boolValue(prefs::autoMove), 0.6);
    });
}

FolderTab FoldersPage::activeTab() const
{
    return folderTabFromValue(m_view.store().textValue(prefs::activeTab));
}

void FoldersPage::setAddingFolder(bool adding)
{
    m_isAddingFolder = adding;
    // Closing the form drops the typed name; the chosen parent stays.
    if (!adding)
        m_newName->clear();
    updateHeader();
}

void FoldersPage::updateHeader()
{
    const bool custom = activeTab() == FolderTab::createdFolders;
    m_add->setVisible(custom);
    m_form->setVisible(custom && m_isAddingFolder);
    const QString label = m_isAddingFolder ? QStringLiteral("Cancel") : QStringLiteral("Add New Folder");
    m_add->setText(label);
    m_add->setAccessibleName(label);
    const QPalette colors = enabledColors(this);
    const QColor tint = m_isAddingFolder ? style::secondaryText(colors) : style::accent(colors);
    const QColor text =
        m_isAddingFolder ? colors.color(QPalette::Window) : colors.color(QPalette::HighlightedText);
    m_add->setIcon(symbolIcon(m_isAddingFolder ? QStringLiteral("xmark") : QStringLiteral("plus"), text, 11));
    setProminent(m_add, tint, text);
}

FolderRow* FoldersPage::makeRow(const FolderConfig& folder)
{
    auto* row = new FolderRow(folder, m_view.interaction(), m_rowsHost);
    row->onSelect = [this, row] { m_view.store().setText(prefs::selectedFolderID, row->folder().idText()); };
    row->onEdit = [this, row](const std::function<void(FolderConfig&)>& edit) { editFolder(row, edit); };
    row->onDelete = [this](const QUuid& id) { deleteFolder(id); };
    row->onCommitChange = [this](const QUuid& id) { commitChange(id); };
    return row;
}

void FoldersPage::refreshRows()
{
    const QList<FolderConfig> folders = m_view.folders().folders();
    const bool standardList = activeTab() == FolderTab::defaultFolders;
    const QString selectedID = m_view.store().textValue(prefs::selectedFolderID);
    // A folder that keeps its row keeps the row's state and whatever has the keyboard focus in it.
    QList<FolderRow*> previous = m_rows;
    QList<FolderRow*> shown;
    qsizetype left = 0;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const FolderConfig& folder = folders[i];
        if (isStandardFolderName(folder.name) != standardList)
            continue;
        if (shown.size() == kMaxRows) {
            ++left;
            continue;
        }
        const auto kept = std::find_if(previous.begin(), previous.end(),
                                       [&folder](FolderRow* row) { return row->folder().id == folder.id; });
        FolderRow* row = nullptr;
        if (kept != previous.end()) {
            row = *kept;
            previous.erase(kept);
        } else {
            row = makeRow(folder);
        }
        row->setFolder(folder, i);
        row->setChangeEnabled(m_view.renameBook().hasUncommittedRenameChange(folder));
        row->setSelectedID(selectedID);
        shown.append(row);
    }
    for (FolderRow* gone : previous) {
        m_rowsLayout->removeWidget(gone);
        gone->hide();
        // It may be the row whose button started this change.
        gone->deleteLater();
    }
    for (int i = 0; i < shown.size(); ++i) {
        if (m_rowsLayout->indexOf(shown[i]) != i) {
            m_rowsLayout->removeWidget(shown[i]);
            m_rowsLayout->insertWidget(i, shown[i]);
        }
    }
    m_rows = shown;
    m_moreRows->setText(QStringLiteral("%1 more folder%2 not shown").arg(left).arg(left == 1 ? "" : "s"));
    m_moreRows->setVisible(left > 0);
    m_emptyState->setVisible(shown.isEmpty());
    m_scroll->setVisible(!shown.isEmpty());
    fitListHeight();
}

void FoldersPage::updateSelection()
{
    const QString selectedID = m_view.store().textValue(prefs::selectedFolderID);
    for (FolderRow* row : std::as_const(m_rows))
        row->setSelectedID(selectedID);
}

void FoldersPage::fitListHeight()
{
    m_scroll->setFixedHeight(std::min(kListHeight, m_rowsHost->sizeHint().height()));
}

bool FoldersPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_rowsHost && event->type() == QEvent::LayoutRequest)
        fitListHeight();
    return QWidget::eventFilter(watched, event);
}

void FoldersPage::createFolder()
{
    const QString name = m_newName->text(); // as typed: spaces around it are part of the name
    if (!name.isEmpty()) {
        if (isRefusedName(name)) {
            if (Interaction* interaction = m_view.interaction())
                interaction->beep();
            return;
        }
        const FolderConfig folder = makeCustomFolder(name, m_parent->currentText());
        QList<FolderConfig> folders = m_view.folders().folders();
        folders.append(folder);
        if (!m_view.folders().save(folders)) {
            if (Interaction* interaction = m_view.interaction())
                interaction->beep();
            return;
        }
        // A folder that cannot be made (or is there already) is still added: moves make it later.
        std::error_code ignored;
        std::filesystem::create_directories(
            std::filesystem::path(toNativePath(configDirectoryURL(folder).toLocalFile()).toStdString()),
            ignored);
        m_view.store().setText(prefs::selectedFolderID, folder.idText());
        // Its rule is the committed one, so "Change" starts disabled.
        m_view.renameBook().recordAddedFolder(folder);
        refreshRows();
    }
    setAddingFolder(false);
}

void FoldersPage::editFolder(FolderRow* row, const std::function<void(FolderConfig&)>& edit)
{
    QList<FolderConfig> folders = m_view.folders().folders();
    qsizetype index = row->storedIndex();
    if (index < 0 || index >= folders.size() || folders[index].id != row->folder().id) {
        const auto found = std::find_if(folders.cbegin(), folders.cend(),
                                        [row](const FolderConfig& f) { return f.id == row->folder().id; });
        if (found == folders.cend())
            return;
        index = found - folders.cbegin();
    }
    edit(folders[index]);
    if (!m_view.folders().save(folders)) {
        if (Interaction* interaction = m_view.interaction())
            interaction->beep();
        refreshRows(); // back to what is stored
    }
}

void FoldersPage::deleteFolder(const QUuid& id)
{
    QList<FolderConfig> folders = m_view.folders().folders();
    const auto found =
        std::find_if(folders.cbegin(), folders.cend(), [&id](const FolderConfig& f) { return f.id == id; });
    if (found == folders.cend() || isStandardFolderName(found->name))
        return;
    const QString idText = found->idText();
    const QString directory = configDirectoryURL(*found).toLocalFile();
    if (pathExists(directory)) {
        if (!mayTrashCustomFolder(directory) || !moveToTrash(directory)) {
            if (Interaction* interaction = m_view.interaction())
                interaction->beep();
            return;
        }
    }
    folders.removeIf([&id](const FolderConfig& f) { return f.id == id; });
    m_view.folders().save(folders); // shorter than a list that was read, so it fits

    RetroRenameBook& book = m_view.renameBook();
    book.committedRenameSnapshot.remove(id);
    book.pendingRetroRenames.removeIf([&id](const RetroRenameJob& job) { return job.folderID == id; });

    Preferences& store = m_view.store();
    if (store.textValue(prefs::selectedFolderID) != idText)
        return;
    const auto desktop = std::find_if(folders.cbegin(), folders.cend(),
                                      [](const FolderConfig& f) { return f.name == u"Desktop"; });
    if (desktop == folders.cend())
        return;
    store.setText(prefs::selectedFolderID, desktop->idText());
    store.setText(prefs::activeTab, folderTabValue(FolderTab::defaultFolders));
}

void FoldersPage::commitChange(const QUuid& id)
{
    m_view.renameBook().commitRenameChange(id, m_view.folders().folders());
    refreshRows();
}

} // namespace quillary
