#include "ui/QuickMovePopup.h"

#include "core/Threading.h"
#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"
#include "ui/CardBackground.h"
#include "ui/Thumbnail.h"

#include <QFutureWatcher>
#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPromise>
#include <QPushButton>
#include <QStyleHints>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <memory>

namespace quillary {
namespace {

constexpr int kCardWidth = 420;
constexpr int kPadding = 15;
constexpr int kColumnGap = 15;
constexpr int kActionColumnSpacing = 12;
constexpr int kFolderColumnSpacing = 10;
constexpr qreal kThumbnailRadius = 10.0;
constexpr int kIconSide = 14;
constexpr int kIconButtonSide = 24;
constexpr int kIconButtonGap = 15;
constexpr int kCellMinWidth = 90;
constexpr int kCellMaxWidth = 120;
constexpr int kCellGap = 10;
constexpr int kRowGap = 8;
constexpr int kFolderButtonHeight = 26;
constexpr int kFolderButtonTextInset = 8;
// Ten rows of three: a list longer than anyone keeps by hand must not make a card taller than the screen.
constexpr qsizetype kMaxFolderButtons = 30;

const QColor kPrimaryText(255, 255, 255);
const QColor kSystemRed(255, 69, 58);

// Colours are 0-255 alpha values: style sheets read a fractional alpha differently across Qt versions.
const char* const kStyleSheet = R"(
QLabel#title { color: #ffffff; }
QLabel#moreFolders { color: rgba(235, 235, 245, 153); }
QLabel#pendingBadge {
    color: rgba(235, 235, 245, 153);
    background-color: rgba(255, 255, 255, 26);
    border-radius: 4px;
    padding: 2px 6px;
}
QToolButton { border: none; border-radius: 6px; background: transparent; padding: 0px; }
QToolButton:hover { background-color: rgba(255, 255, 255, 20); }
QToolButton:pressed { background-color: rgba(255, 255, 255, 38); }
QPushButton#folderButton { border: none; border-radius: 6px; padding: 0px 8px; color: #ffffff; }
QPushButton#folderButton[folderKind="standard"] { background-color: rgba(255, 255, 255, 46); }
QPushButton#folderButton[folderKind="standard"]:hover { background-color: rgba(255, 255, 255, 64); }
QPushButton#folderButton[folderKind="standard"]:pressed { background-color: rgba(255, 255, 255, 30); }
QPushButton#folderButton[folderKind="custom"] { background-color: #0a84ff; }
QPushButton#folderButton[folderKind="custom"]:hover { background-color: #2b95ff; }
QPushButton#folderButton[folderKind="custom"]:pressed { background-color: #0070e0; }
)";

// Sizes are logical pixels, as the card's whole layout is; Qt's points would draw the text a third
// larger at 96 dpi.
QFont withSize(QFont font, qreal pixels, QFont::Weight weight)
{
    font.setPixelSize(qRound(pixels));
    font.setWeight(weight);
    return font;
}

// The monochrome icon at `resource` drawn in `color`, for 1x and 2x screens.
QIcon tintedIcon(const QString& resource, const QColor& color)
{
    const QIcon source(resource);
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap = source.pixmap(QSize(kIconSide, kIconSide), ratio);
        if (pixmap.isNull())
            continue;
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), color);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QToolButton* makeIconButton(const QString& objectName, const QString& label, const QIcon& icon,
                            QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(icon);
    button->setIconSize(QSize(kIconSide, kIconSide));
    button->setFixedSize(kIconButtonSide, kIconButtonSide);
    button->setToolTip(label);
    button->setAccessibleName(label);
    return button;
}

} // namespace

bool QuickMovePopup::acceptsActions() const
{
    return m_shownFor.elapsed() >= QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

QuickMovePopup::QuickMovePopup(const QUrl& fileURL, int total, FolderStore& folders, QWidget* parent)
    : QWidget(parent)
    , m_folders(folders)
{
    m_shownFor.start();
    setFixedWidth(kCardWidth);
    setStyleSheet(QString::fromLatin1(kStyleSheet));

    const QString path = fileURL.isLocalFile() ? fileURL.toLocalFile() : QString();
    const bool withThumbnail = !path.isEmpty() && readableImageSize(path).has_value();

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    row->setSpacing(kColumnGap);
    // Aligned rather than stretched, so the card never grows taller than its content.
    QLayout* actionColumn = makeActionColumn(withThumbnail);
    row->addLayout(actionColumn);
    row->setAlignment(actionColumn, Qt::AlignTop);
    m_folderColumn = new QVBoxLayout;
    m_folderColumn->setSpacing(kFolderColumnSpacing);
    m_folderColumn->addLayout(makeHeader(total));
    row->addLayout(m_folderColumn, 1);
    row->setAlignment(m_folderColumn, Qt::AlignTop);
    rebuildFolderGrid();

    connect(&folders, &FolderStore::foldersChanged, this, [this] {
        rebuildFolderGrid();
        refit();
    });
    if (withThumbnail)
        loadThumbnail(path);
    adjustSize();
}

QuickMovePopup::~QuickMovePopup() = default;

QLayout* QuickMovePopup::makeActionColumn(bool withThumbnail)
{
    auto* column = new QVBoxLayout;
    column->setSpacing(kActionColumnSpacing);
    if (withThumbnail) {
        m_thumbnail = new QLabel(this);
        m_thumbnail->setObjectName(QStringLiteral("thumbnail"));
        m_thumbnail->setFixedSize(kThumbnailSide, kThumbnailSide);
        auto* shadow = new QGraphicsDropShadowEffect(m_thumbnail);
        shadow->setColor(QColor(0, 0, 0, 51));
        shadow->setBlurRadius(3);
        shadow->setOffset(0, 1);
        m_thumbnail->setGraphicsEffect(shadow);
        column->addWidget(m_thumbnail, 0, Qt::AlignHCenter);
    }

    QColor plusColor = kPrimaryText;
    plusColor.setAlphaF(0.6f);
    QColor trashColor = kSystemRed;
    trashColor.setAlphaF(0.8f);
    auto* newFolder =
        makeIconButton(QStringLiteral("newFolderButton"), tr("New Folder"),
                       tintedIcon(QStringLiteral(":/ui/icons/plus-circle.svg"), plusColor), this);
    auto* trash = makeIconButton(QStringLiteral("trashButton"), tr("Move to Trash"),
                                 tintedIcon(QStringLiteral(":/ui/icons/trash.svg"), trashColor), this);
    // Copies of the handlers: the app may delete this card from inside one.
    connect(newFolder, &QToolButton::clicked, this, [this] {
        if (const auto handler = onQuickCreateFolder; handler && acceptsActions())
            handler();
    });
    connect(trash, &QToolButton::clicked, this, [this] {
        if (const auto handler = onDelete; handler && acceptsActions())
            handler();
    });
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(kIconButtonGap);
    buttons->addWidget(newFolder);
    buttons->addWidget(trash);
    column->addLayout(buttons);
    column->setAlignment(buttons, Qt::AlignHCenter);
    return column;
}

QLayout* QuickMovePopup::makeHeader(int total)
{
    auto* title = new QLabel(tr("Move to..."), this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(withSize(font(), 12, QFont::Bold));
    auto* badge = new QLabel(tr("%1 pending").arg(total), this);
    badge->setObjectName(QStringLiteral("pendingBadge"));
    badge->setFont(withSize(font(), 10, QFont::DemiBold));

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(title, 0, Qt::AlignVCenter);
    header->addStretch();
    header->addWidget(badge, 0, Qt::AlignVCenter);
    return header;
}

int QuickMovePopup::folderGridWidth() const
{
    const int buttonsWidth = 2 * kIconButtonSide + kIconButtonGap;
    const bool thumbnailShown = m_thumbnail && !m_thumbnail->isHidden();
    const int actionColumnWidth = thumbnailShown ? std::max(kThumbnailSide, buttonsWidth) : buttonsWidth;
    return kCardWidth - 2 * kPadding - kColumnGap - actionColumnWidth;
}

void QuickMovePopup::rebuildFolderGrid()
{
    const int width = folderGridWidth();
    const int columns = std::max(1, (width + kCellGap) / (kCellMinWidth + kCellGap));
    // Uncapped cells share the leftover pixels, so the grid ends flush with the header's badge.
    const int cellSpace = width - kCellGap * (columns - 1);
    const auto cellWidth = [&](int column) {
        return std::clamp(cellSpace / columns + (column < cellSpace % columns ? 1 : 0), kCellMinWidth,
                          kCellMaxWidth);
    };
    const QFont buttonFont = withSize(font(), 10, QFont::Medium);
    const QFontMetrics metrics(buttonFont);

    auto* grid = new QWidget(this);
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(kCellGap);
    layout->setVerticalSpacing(kRowGap);
    layout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QList<FolderConfig> folders = m_folders.folders();
    const qsizetype shown = std::min(folders.size(), kMaxFolderButtons);
    for (qsizetype i = 0; i < shown; ++i) {
        const FolderConfig& folder = folders.at(i);
        const int column = int(i % columns);
        const QString title =
            metrics.elidedText(folder.name, Qt::ElideRight, cellWidth(column) - 2 * kFolderButtonTextInset);
        auto* button = new QPushButton(title, grid);
        button->setObjectName(QStringLiteral("folderButton"));
        button->setProperty("folderKind", isStandardFolderName(folder.name) ? QStringLiteral("standard")
                                                                            : QStringLiteral("custom"));
        button->setProperty("folderID", folder.idText());
        button->setFont(buttonFont);
        button->setFixedSize(cellWidth(column), kFolderButtonHeight);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAccessibleName(folder.name);
        if (title != folder.name)
            button->setToolTip(folder.name);
        connect(button, &QPushButton::clicked, this, [this, id = folder.idText()] {
            if (const auto handler = onMove; handler && acceptsActions())
                handler(id);
        });
        layout->addWidget(button, int(i / columns), column);
    }
    if (shown < folders.size()) {
        const qsizetype left = folders.size() - shown;
        auto* more = new QLabel(tr("%1 more folder%2 not shown").arg(left).arg(left == 1 ? "" : "s"), grid);
        more->setObjectName(QStringLiteral("moreFolders"));
        more->setFont(buttonFont);
        layout->addWidget(more, int((shown + columns - 1) / columns), 0, 1, columns);
    }

    if (m_folderGrid) {
        // Deleted later: this may run inside a click on one of the old buttons.
        delete m_folderColumn->replaceWidget(m_folderGrid, grid);
        m_folderGrid->hide();
        m_folderGrid->deleteLater();
        // A widget added to a visible parent stays hidden until shown.
        grid->show();
    } else {
        m_folderColumn->addWidget(grid);
    }
    m_folderGrid = grid;
}

void QuickMovePopup::loadThumbnail(const QString& path)
{
    // Decoded off the UI thread: formats without scaled decoding (PNG) are read whole first.
    const int side =
        std::clamp(int(std::ceil(kThumbnailSide * devicePixelRatioF())), kThumbnailSide, kMaxThumbnailPixels);
    auto promise = std::make_shared<QPromise<QImage>>();
    auto* watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, side] {
        watcher->deleteLater();
        const QFuture<QImage> future = watcher->future();
        const QImage image = future.resultCount() > 0 ? future.result() : QImage();
        if (image.isNull() || !m_thumbnail) {
            dropThumbnail();
            return;
        }
        QPixmap pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(qreal(side) / kThumbnailSide);
        m_thumbnail->setPixmap(pixmap);
    });
    watcher->setFuture(promise->future());
    startOn(*QThreadPool::globalInstance(), [promise, path, side] {
        promise->start();
        const qreal radius = kThumbnailRadius * side / kThumbnailSide;
        promise->addResult(withRoundedCorners(decodeThumbnail(path, side), radius));
        promise->finish();
    });
}

void QuickMovePopup::dropThumbnail()
{
    if (!m_thumbnail)
        return;
    m_thumbnail->hide();
    m_thumbnail->deleteLater();
    rebuildFolderGrid();
    refit();
}

void QuickMovePopup::refit()
{
    if (layout())
        layout()->activate();
    adjustSize();
    emit contentSizeChanged();
}

void QuickMovePopup::setBackdropBlurred(bool blurred)
{
    if (blurred == m_backdropBlurred)
        return;
    m_backdropBlurred = blurred;
    update();
}

void QuickMovePopup::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    paintCardBackground(painter, QRectF(rect()), m_backdropBlurred);
}

} // namespace quillary
