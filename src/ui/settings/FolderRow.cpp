#include "ui/settings/FolderRow.h"

#include "ui/settings/PageLayout.h"
#include "ui/widgets/SegmentedControl.h"
#include "ui/widgets/SettingsStyle.h"
#include "ui/widgets/SymbolIcon.h"

#include "core/Interaction.h"
#include "folders/StandardFolders.h"
#include "handle/RetroRename.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillary {
namespace {

constexpr int kMarkSide = 15;
constexpr int kIconSide = 13;
constexpr int kGap = 12;
constexpr int kTextLeft = kMarkSide + kGap + kIconSide + kGap;

QFont nameFont(const QFont& base, bool selected)
{
    return style::font(base, 13, selected ? QFont::DemiBold : QFont::Normal);
}

QFont pathFont(const QFont& base)
{
    return style::font(base, 10);
}

// The part of the row that selects it: the selection mark, the folder's symbol, its name and, for a
// custom folder, its path under the name. Checked while the folder is the selected one.
class SelectButton final : public QAbstractButton {
public:
    explicit SelectButton(QWidget* parent)
        : QAbstractButton(parent)
    {
        setCheckable(true);
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
    }

    void setContent(const QString& icon, const QString& name, const QString& path)
    {
        m_icon = icon;
        m_path = path;
        setText(name);
        setAccessibleName(name);
        setAccessibleDescription(path);
        updateGeometry();
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetrics name(nameFont(font(), true));
        int width = name.horizontalAdvance(text());
        int height = name.height();
        if (!m_path.isEmpty()) {
            const QFontMetrics path(pathFont(font()));
            width = std::max(width, path.horizontalAdvance(m_path));
            height += 1 + path.height();
        }
        return {kTextLeft + width, std::max(height, kMarkSide)};
    }
    QSize minimumSizeHint() const override { return {kTextLeft + 40, sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool selected = isChecked();
        const QColor accent = style::accent(palette());
        const QColor textColor = palette().color(QPalette::WindowText);
        const QColor markColor = selected ? accent : style::withOpacity(textColor, 0.25);
        const QString mark = selected ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle");
        const int middle = height() / 2;
        painter.drawPixmap(0, middle - kMarkSide / 2,
                           symbolIcon(mark, markColor, kMarkSide).pixmap(kMarkSide, kMarkSide));
        const QColor iconColor = selected ? accent : style::secondaryText(palette());
        painter.drawPixmap(kMarkSide + kGap, middle - kIconSide / 2,
                           symbolIcon(m_icon, iconColor, kIconSide).pixmap(kIconSide, kIconSide));

        const QFont name = nameFont(font(), selected);
        const QFontMetrics nameMetrics(name);
        const int textWidth = width() - kTextLeft;
        int top = middle - nameMetrics.height() / 2;
        if (!m_path.isEmpty())
            top = middle - (nameMetrics.height() + 1 + QFontMetrics(pathFont(font())).height()) / 2;
        painter.setFont(name);
        painter.setPen(textColor);
        painter.drawText(QRect(kTextLeft, top, textWidth, nameMetrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         nameMetrics.elidedText(text(), Qt::ElideMiddle, textWidth));
        if (!m_path.isEmpty()) {
            const QFont path = pathFont(font());
            const QFontMetrics pathMetrics(path);
            painter.setFont(path);
            painter.setPen(style::withOpacity(style::secondaryText(palette()), 0.6));
            painter.drawText(
                QRect(kTextLeft, top + nameMetrics.height() + 1, textWidth, pathMetrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter, pathMetrics.elidedText(m_path, Qt::ElideMiddle, textWidth));
        }
        if (hasFocus()) {
            painter.setPen(QPen(style::withOpacity(accent, 0.6), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
        }
    }

private:
    QString m_icon;
    QString m_path;
};

// The row's header: the accent tint and hairline of the selected folder behind the buttons.
class RowHeader final : public QWidget {
public:
    using QWidget::QWidget;
    bool selected = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!selected)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = style::accent(palette());
        painter.setPen(QPen(style::withOpacity(accent, 0.15), 1));
        painter.setBrush(style::withOpacity(accent, 0.08));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

// The rule editor's faint backdrop.
class EditorPanel final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), style::withOpacity(palette().color(QPalette::WindowText), 0.02));
    }
};

// A hairline across the editor, above its controls.
class Hairline final : public QWidget {
public:
    explicit Hairline(QWidget* parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), style::withOpacity(palette().color(QPalette::WindowText), 0.08));
    }
};

QToolButton* symbolButton(const QString& accessibleName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

FolderRow::FolderRow(const FolderConfig& folder, Interaction* interaction, QWidget* parent)
    : QWidget(parent)
    , m_interaction(interaction)
    , m_header(new RowHeader(this))
    , m_select(new SelectButton(m_header))
    , m_edit(symbolButton(QStringLiteral("Edit Rename Rule"), m_header))
    , m_trash(symbolButton(QStringLiteral("Move to Trash"), m_header))
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    auto* header = new QHBoxLayout(m_header);
    header->setContentsMargins(12, 10, 12, 10);
    header->setSpacing(8);
    header->addWidget(m_select, 1);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(6);
    actions->addWidget(m_edit);
    actions->addWidget(m_trash);
    header->addLayout(actions);
    stack->addWidget(m_header);
    m_editor = makeEditor();
    stack->addWidget(m_editor);

    connect(m_select, &QAbstractButton::clicked, this, [this] {
        if (onSelect)
            onSelect();
        // Clicking the selected row must not uncheck it.
        m_select->setChecked(isSelected());
    });
    connect(m_edit, &QAbstractButton::clicked, this, [this] {
        m_isEditing = !m_isEditing;
        updateEditor();
    });
    connect(m_trash, &QAbstractButton::clicked, this, &FolderRow::confirmDelete);

    applyStyle();
    setFolder(folder, -1);
}

QWidget* FolderRow::makeEditor()
{
    auto* editor = new QWidget(this);
    auto* outer = new QVBoxLayout(editor);
    outer->setContentsMargins(4, 0, 4, 4);
    auto* panel = new EditorPanel(editor);
    outer->addWidget(panel);
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(10, 10, 10, 10);
    rows->setSpacing(10);
    auto* line = new Hairline(panel);
    auto* lineRow = new QHBoxLayout;
    lineRow->setContentsMargins(4, 0, 4, 0);
    lineRow->addWidget(line);
    rows->addLayout(lineRow);

    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(8, 0, 0, 0);
    controls->setSpacing(8);
    m_prefix = new QLineEdit(panel);
    m_prefix->setPlaceholderText(QStringLiteral("Prefix"));
    m_prefix->setAccessibleName(QStringLiteral("Prefix"));
    m_prefix->setMinimumWidth(80);
    m_prefix->setMaximumWidth(130);
    controls->addWidget(m_prefix);
    m_format = new SegmentedControl(panel);
    m_format->addSegment(QStringLiteral("PNG"), QStringLiteral("png"));
    m_format->addSegment(QStringLiteral("JPG"), QStringLiteral("jpg"));
    m_format->addSegment(QStringLiteral("PDF"), QStringLiteral("pdf"));
    m_format->setFixedWidth(150);
    m_format->setAccessibleName(QStringLiteral("File Format"));
    controls->addWidget(m_format);
    m_date = new QCheckBox(QStringLiteral("Date"), panel);
    m_date->setAccessibleName(QStringLiteral("Date"));
    m_date->setFont(style::font(m_date->font(), 11));
    controls->addWidget(m_date);
    controls->addStretch();
    m_change = new QPushButton(QStringLiteral("Change"), panel);
    m_change->setAccessibleName(QStringLiteral("Change"));
    m_change->setFlat(true);
    m_change->setFont(style::font(m_change->font(), 11, QFont::DemiBold));
    m_change->setCursor(Qt::PointingHandCursor);
    controls->addWidget(m_change);
    rows->addLayout(controls);

    // Every edit goes straight into the stored list.
    const auto edit = [this](const std::function<void(FolderConfig&)>& change) {
        change(m_folder);
        if (onEdit)
            onEdit(change);
    };
    connect(m_prefix, &QLineEdit::textEdited, this,
            [edit](const QString& text) { edit([text](FolderConfig& f) { f.prefix = text; }); });
    connect(m_format, &SegmentedControl::activated, this,
            [edit](const QString& value) { edit([value](FolderConfig& f) { f.fileFormat = value; }); });
    connect(m_date, &QCheckBox::toggled, this,
            [edit](bool on) { edit([on](FolderConfig& f) { f.includeDate = on; }); });
    connect(m_change, &QPushButton::clicked, this, &FolderRow::confirmChange);
    editor->hide();
    return editor;
}

void FolderRow::setFolder(const FolderConfig& folder, qsizetype storedIndex)
{
    m_folder = folder;
    m_storedIndex = storedIndex;
    const bool standard = isStandard();
    static_cast<SelectButton*>(m_select)->setContent(folder.icon, folder.name,
                                                     standard ? QString() : folder.path);
    m_edit->setVisible(!standard);
    m_trash->setVisible(!standard);
    m_edit->setAccessibleDescription(folder.name);
    m_trash->setAccessibleDescription(folder.name);
    // Never reset the text under the user's cursor with what they just typed.
    if (m_prefix->text() != folder.prefix) {
        const QSignalBlocker quiet(m_prefix);
        m_prefix->setText(folder.prefix);
    }
    m_format->setValue(folder.fileFormat);
    {
        const QSignalBlocker quiet(m_date);
        m_date->setChecked(folder.includeDate);
    }
    setChangeEnabled(m_isChangeEnabled);
    updateEditor();
}

bool FolderRow::isStandard() const
{
    return isStandardFolderName(m_folder.name);
}

void FolderRow::setSelectedID(const QString& selectedID)
{
    const bool changed = selectedID != m_selectedID;
    m_selectedID = selectedID;
    if (changed && !isSelected())
        m_isEditing = false;
    m_select->setChecked(isSelected());
    static_cast<RowHeader*>(m_header)->selected = isSelected();
    m_header->update();
    updateEditor();
}

bool FolderRow::isSelected() const
{
    return m_selectedID == m_folder.idText();
}

void FolderRow::setChangeEnabled(bool enabled)
{
    m_isChangeEnabled = enabled;
    const bool dimmed = isStandard() || !enabled;
    // Called on every change of the stored list: the opacity effect is only replaced when needed.
    if (m_isChangeDimmed != dimmed)
        setDimmed(m_change, dimmed, 0.3);
    m_isChangeDimmed = dimmed;
}

bool FolderRow::isEditorShown() const
{
    return !m_editor->isHidden();
}

void FolderRow::updateEditor()
{
    // An editor opened on a row that is not selected waits until the row is.
    m_editor->setVisible(m_isEditing && isSelected() && !isStandard());
}

void FolderRow::confirmDelete()
{
    if (!m_interaction)
        return;
    const ModalAlert alert{QStringLiteral("Move folder to Trash?"),
                           QStringLiteral("This will move \"") + m_folder.name +
                               QStringLiteral("\" and all its contents to the Trash."),
                           {QStringLiteral("Move to Trash"), QStringLiteral("Cancel")}};
    if (m_interaction->runModal(alert) == 0 && onDelete)
        onDelete(m_folder.id);
}

void FolderRow::confirmChange()
{
    if (!m_interaction)
        return;
    if (m_interaction->runModal(renameConfirmation(m_folder.name)) == 0 && onCommitChange)
        onCommitChange(m_folder.id);
}

void FolderRow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        applyStyle();
}

void FolderRow::applyStyle()
{
    // The colours of the enabled row: a row may be made while the page is disabled.
    QPalette colors = palette();
    colors.setCurrentColorGroup(QPalette::Active);
    const QColor muted = style::withOpacity(style::secondaryText(colors), 0.6);
    m_edit->setIcon(symbolIcon(QStringLiteral("slider.horizontal.3"), muted, 15));
    m_edit->setIconSize({15, 15});
    m_trash->setIcon(symbolIcon(QStringLiteral("trash"), muted, 14));
    m_trash->setIconSize({14, 14});
    QPalette changeColors = m_change->palette();
    changeColors.setColor(QPalette::ButtonText, style::accent(colors));
    m_change->setPalette(changeColors);
}

} // namespace quillary
