#include "ManagedMediaPreview.h"

#include "DeviceManagementStore.h"
#include "ElidedLabel.h"
#include "MediaGalleryPresentation.h"
#include "MediaPreviewPresentation.h"
#include "PlainLabel.h"
#include "SpinningIndicator.h"
#include "SymbolIcon.h"
#include "ViewFonts.h"

#include <QBoxLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedLayout>
#include <QToolButton>

namespace {

constexpr int picturePadding = 28;
constexpr int badgeInset = 16;
constexpr int edgeInset = 18;
constexpr int placeholderPixels = 44;
const QString unavailableTitle = QStringLiteral("照片已不可用");

// A centred column of a symbol, a title and a description, as an empty or unavailable state shows them.
QWidget *unavailableView(const QString &title, const QString &description, QLabel *&symbol, QWidget *parent)
{
    auto *view = new QWidget(parent);
    auto *column = new QVBoxLayout(view);
    column->setSpacing(8);
    column->addStretch();
    symbol = new PlainLabel(view);
    symbol->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol);
    auto *titleLabel = new PlainLabel(title, view);
    titleLabel->setFont(ViewFonts::title3());
    titleLabel->setAlignment(Qt::AlignCenter);
    column->addWidget(titleLabel);
    auto *descriptionLabel = new PlainLabel(description, view);
    descriptionLabel->setAlignment(Qt::AlignCenter);
    descriptionLabel->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(descriptionLabel);
    column->addStretch();
    return view;
}

void setSymbol(QLabel *label, QStringView name, const QColor &color)
{
    if (const std::optional<Symbol> symbol = SymbolIcon::named(name)) {
        label->setPixmap(SymbolIcon::pixmap(*symbol, color, placeholderPixels, label->devicePixelRatioF()));
    } else {
        label->clear();
    }
}

QPushButton *plainButton(const QIcon &icon, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(icon, text, parent);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus); // the arrow keys stay with the sheet
    return button;
}

} // namespace

// The picture, fitted and padded, with the loading, unavailable, badge, reload and stepping layers over it.
class ManagedMediaPreview::ImageArea : public QWidget
{
public:
    explicit ImageArea(QWidget *parent) : QWidget(parent)
    {
        loading = new QWidget(this);
        auto *loadingColumn = new QVBoxLayout(loading);
        loadingColumn->addStretch();
        auto *indicator = new SpinningIndicator(24, loading);
        loadingColumn->addWidget(indicator, 0, Qt::AlignHCenter);
        loadingColumn->addWidget(new PlainLabel(QStringLiteral("正在加载高清预览…"), loading), 0, Qt::AlignHCenter);
        loadingColumn->addStretch();
        unavailable = unavailableView(QStringLiteral("无法显示预览"), QStringLiteral("你仍然可以将原文件下载到电脑。"),
                                      unavailableSymbol, this);

        badge = new PlainLabel(QStringLiteral("正在加载高清预览"), this);
        badge->setFont(ViewFonts::caption(QFont::Medium));
        badge->setContentsMargins(10, 7, 10, 7);
        badge->setAutoFillBackground(true);
        reloadButton = plainButton(SymbolIcon::icon(u"arrow.clockwise", palette().color(QPalette::ButtonText)),
                                   QStringLiteral("重新加载高清预览"), this);
        previousButton = steppingButton(u"chevron.left", QStringLiteral("上一张"));
        nextButton = steppingButton(u"chevron.right", QStringLiteral("下一张"));
    }

    void setPicture(const std::optional<QImage> &picture)
    {
        image = picture;
        update();
    }

    QWidget *loading = nullptr;
    QWidget *unavailable = nullptr;
    QLabel *unavailableSymbol = nullptr;
    QLabel *badge = nullptr;
    QPushButton *reloadButton = nullptr;
    QToolButton *previousButton = nullptr;
    QToolButton *nextButton = nullptr;
    std::optional<QImage> image;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::AlternateBase));
        if (!image || image->isNull()) {
            return;
        }
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF space = QRectF(rect()).adjusted(picturePadding, picturePadding, -picturePadding, -picturePadding);
        const QSizeF fitted = QSizeF(image->size()).scaled(space.size(), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(space.center().x() - fitted.width() / 2, space.center().y() - fitted.height() / 2,
                                 fitted.width(), fitted.height()),
                          *image);
    }

    void resizeEvent(QResizeEvent *) override
    {
        loading->setGeometry(rect());
        unavailable->setGeometry(rect());
        badge->adjustSize();
        badge->move(width() - badgeInset - badge->width(), badgeInset);
        reloadButton->adjustSize();
        reloadButton->move((width() - reloadButton->width()) / 2, height() - edgeInset - reloadButton->height());
        previousButton->adjustSize();
        previousButton->move(edgeInset, (height() - previousButton->height()) / 2);
        nextButton->adjustSize();
        nextButton->move(width() - edgeInset - nextButton->width(), (height() - nextButton->height()) / 2);
    }

private:
    QToolButton *steppingButton(QStringView symbol, const QString &text)
    {
        auto *button = new QToolButton(this);
        button->setText(text);
        button->setToolTip(text);
        button->setAccessibleName(text);
        button->setIcon(SymbolIcon::icon(symbol, palette().color(QPalette::ButtonText), 22));
        button->setIconSize(QSize(22, 22));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setFocusPolicy(Qt::NoFocus);
        return button;
    }
};

ManagedMediaPreview::ManagedMediaPreview(DeviceManagementStore &store, std::optional<QString> selectedMediaID,
                                         QWidget *parent)
    : QDialog(parent), m_store(&store), m_selectedMediaID(std::move(selectedMediaID))
{
    setWindowModality(Qt::WindowModal);
    setMinimumSize(560, 420);
    setMaximumSize(880, 600);
    resize(720, 560);
    setFocusPolicy(Qt::StrongFocus);
    m_pages = new QStackedLayout(this);

    QLabel *gone = nullptr;
    m_pages->addWidget(unavailableView(unavailableTitle, QStringLiteral("照片列表可能已经刷新。"), gone, this));
    setSymbol(gone, u"photo.badge.exclamationmark", palette().color(QPalette::PlaceholderText));

    auto *content = new QWidget(this);
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(18, 14, 18, 14);
    header->setSpacing(12);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    m_nameLabel = new ElidedLabel(Qt::ElideRight, content);
    m_nameLabel->setFont(ViewFonts::body(QFont::DemiBold));
    m_detailLabel = new PlainLabel(content);
    m_detailLabel->setFont(ViewFonts::caption());
    m_detailLabel->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(m_nameLabel);
    titles->addWidget(m_detailLabel);
    header->addLayout(titles, 1);
    QPushButton *download = plainButton(SymbolIcon::icon(u"arrow.down.circle", palette().color(QPalette::ButtonText)),
                                        QStringLiteral("下载到电脑"), content);
    download->setDefault(true); // the prominent button of the header
    QPushButton *close =
        plainButton(SymbolIcon::icon(u"xmark", palette().color(QPalette::ButtonText)), QString(), content);
    close->setToolTip(QStringLiteral("关闭"));
    close->setAccessibleName(QStringLiteral("关闭"));
    header->addWidget(download);
    header->addWidget(close);
    stack->addLayout(header);
    auto *divider = new QFrame(content);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    stack->addWidget(divider);
    m_imageArea = new ImageArea(content);
    stack->addWidget(m_imageArea, 1);
    m_pages->addWidget(content);

    connect(download, &QPushButton::clicked, this, [this] {
        const QList<ManagedMediaItem> items = shownItems();
        const std::optional<qsizetype> index = mediaPreviewIndex(items, m_selectedMediaID);
        if (m_store && index) {
            // Started, not awaited: a failure comes back through the store's error message.
            m_store->downloadMedia(items.at(*index));
        }
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_imageArea->reloadButton, &QPushButton::clicked, this, &ManagedMediaPreview::reload);
    connect(m_imageArea->previousButton, &QToolButton::clicked, this, [this] { move(-1); });
    connect(m_imageArea->nextButton, &QToolButton::clicked, this, [this] { move(1); });
    connect(&store, &DeviceManagementStore::mediaItemsChanged, this, &ManagedMediaPreview::refresh);
    connect(&store, &DeviceManagementStore::loadedMediaKindChanged, this, &ManagedMediaPreview::refresh);
    connect(&store, &DeviceManagementStore::thumbnailRevisionChanged, this, &ManagedMediaPreview::refresh);
    connect(&store, &DeviceManagementStore::activePeerIDChanged, this, &ManagedMediaPreview::refresh);
    refresh();
}

void ManagedMediaPreview::setSelectedMediaID(const std::optional<QString> &id)
{
    if (id == m_selectedMediaID) {
        return;
    }
    m_selectedMediaID = id;
    refresh();
    emit selectedMediaIDChanged();
}

bool ManagedMediaPreview::move(qsizetype offset)
{
    if (!m_store) {
        return false;
    }
    const std::optional<QString> target = mediaPreviewMoveTarget(shownItems(), m_selectedMediaID, offset);
    if (!target) {
        return false;
    }
    setSelectedMediaID(target);
    return true;
}

void ManagedMediaPreview::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        if (move(event->key() == Qt::Key_Left ? -1 : 1)) {
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    QDialog::keyPressEvent(event); // Escape closes the sheet
}

void ManagedMediaPreview::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    setFocus(Qt::OtherFocusReason);
    // The item's large preview is asked for each time the sheet comes on screen.
    m_loadItem.reset();
    refresh();
}

void ManagedMediaPreview::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    withdrawLoad(std::nullopt);
}

void ManagedMediaPreview::refresh()
{
    const QList<ManagedMediaItem> items = shownItems();
    const std::optional<qsizetype> index = mediaPreviewIndex(items, m_selectedMediaID);
    if (!index) {
        m_pages->setCurrentIndex(0);
        // A screen reader names the sheet by the title it shows.
        setAccessibleName(unavailableTitle);
        return;
    }
    m_pages->setCurrentIndex(1);
    const ManagedMediaItem item = items.at(*index);
    m_nameLabel->setText(item.name);
    setAccessibleName(item.name);
    m_detailLabel->setText(mediaPreviewDetailLine(item));

    const QString key = m_store->mediaCacheKey(item);
    const std::optional<QImage> image = m_store->cachedMediaImage(item); // the large preview first
    const MediaPreviewAppearance look = mediaPreviewAppearance(
        image.has_value(), m_store->loadingPreviewKeys().contains(key), m_store->failedPreviewKeys().contains(key));
    m_imageArea->setPicture(image);
    m_imageArea->loading->setVisible(look.picture == MediaPreviewAppearance::Picture::loading);
    m_imageArea->unavailable->setVisible(look.picture == MediaPreviewAppearance::Picture::unavailable);
    setSymbol(m_imageArea->unavailableSymbol, mediaPlaceholderSymbol(item.kind),
              palette().color(QPalette::PlaceholderText));
    m_imageArea->badge->setVisible(look.showsLoadingBadge);
    m_imageArea->reloadButton->setVisible(look.showsReloadButton);
    const qsizetype count = items.size();
    m_imageArea->previousButton->setEnabled(canShowPreviousMedia(*index, count));
    m_imageArea->nextButton->setEnabled(canShowNextMedia(*index, count));
    // Overlays above the picture layers, in the order they are drawn.
    m_imageArea->badge->raise();
    m_imageArea->reloadButton->raise();
    m_imageArea->previousButton->raise();
    m_imageArea->nextButton->raise();

    if (isVisible() && (!m_loadItem || mediaTaskKey(item) != mediaTaskKey(*m_loadItem))) {
        startLoad(item);
    }
}

QList<ManagedMediaItem> ManagedMediaPreview::shownItems() const
{
    return m_store ? galleryMediaItems(m_store->mediaItems(), m_store->loadedMediaKind()) : QList<ManagedMediaItem>();
}

void ManagedMediaPreview::startLoad(const ManagedMediaItem &item)
{
    // Recorded first: the load signals a new revision at once, which comes back to refresh().
    withdrawLoad(item);
    m_store->loadLargePreview(item, previewDimension);
}

void ManagedMediaPreview::withdrawLoad(const std::optional<ManagedMediaItem> &next)
{
    // The item stepped over, or shown when the sheet closed, no longer needs its large preview: a request of it
    // that has not gone out yet never does.
    const std::optional<ManagedMediaItem> previous = std::exchange(m_loadItem, next);
    if (previous && m_store && (!next || mediaTaskKey(*previous) != mediaTaskKey(*next))) {
        m_store->withdrawLargePreview(*previous);
    }
}

void ManagedMediaPreview::reload()
{
    const QList<ManagedMediaItem> items = shownItems();
    const std::optional<qsizetype> index = mediaPreviewIndex(items, m_selectedMediaID);
    if (!index) {
        return;
    }
    const ManagedMediaItem item = items.at(*index);
    // Forgotten before asking again, or the store would skip the failed key.
    m_store->forgetFailedPreview(m_store->mediaCacheKey(item));
    startLoad(item);
    refresh();
}
