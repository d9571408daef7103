#include "QuickSendPanel.h"

#include "ElidedLabel.h"
#include "PlainLabel.h"
#include "QuickSendCoordinator.h"
#include "QuickSendRules.h"
#include "SymbolIcon.h"
#include "TaskListFollower.h"
#include "TintedProgressBar.h"
#include "TransferStore.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QAccessibleWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>

namespace {

constexpr int headerIconFrame = 38;
constexpr int headerIconPixels = 22;
constexpr int dropSymbolPixels = 30;
constexpr int statusSymbolPixels = 18;
constexpr int captionSymbolPixels = 12;

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QLabel *symbolLabel(Symbol symbol, const QColor &color, int pixels, QWidget *parent)
{
    auto *label = new PlainLabel(parent);
    label->setPixmap(SymbolIcon::pixmap(symbol, color, pixels, parent->devicePixelRatioF()));
    return label;
}

QWidget *horizontalRow(const QList<QWidget *> &widgets, int spacing, bool stretchAtEnd = false)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget *widget : widgets) {
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    }
    if (stretchAtEnd) {
        layout->addStretch();
    }
    return row;
}

// The toolkit gives a plain top-level widget the role of a client area, which screen readers take for a filler; the
// panel is a window of its own that asks for files, a dialog, named by its title.
QAccessibleInterface *panelAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String(QuickSendPanel::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Dialog);
}

} // namespace

// The dashed zone that takes dropped files: accent-tinted while a drag of files is over it.
class QuickSendDropZone : public QWidget
{
public:
    std::function<void(const QList<QUrl> &)> dropped;
    std::function<void()> targetChanged;

    explicit QuickSendDropZone(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("quickSendDropZone"));
        setAcceptDrops(true);
        setMinimumHeight(126);
    }

    bool isTargeted() const { return m_isTargeted; }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        if (!event->mimeData()->hasUrls()) {
            return;
        }
        event->acceptProposedAction();
        setTargeted(true);
    }

    void dragLeaveEvent(QDragLeaveEvent *) override { setTargeted(false); }

    void dropEvent(QDropEvent *event) override
    {
        setTargeted(false);
        const QList<QUrl> urls = event->mimeData()->urls();
        if (urls.isEmpty()) {
            event->ignore();
            return;
        }
        event->acceptProposedAction();
        if (dropped) {
            dropped(urls);
        }
    }

    void paintEvent(QPaintEvent *) override
    {
        const QuickSendRules::DropZoneStyle style = QuickSendRules::dropZoneStyle(m_isTargeted);
        const QColor tint = style.accent ? ViewColors::blue() : ViewColors::secondary();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // The border is stroked inside the edge.
        const qreal inset = style.borderWidth / 2;
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 18, 18);
        painter.fillPath(shape,
                         withAlpha(style.accent ? tint : palette().color(QPalette::WindowText), style.fillAlpha));
        QPen border(style.accent ? tint : withAlpha(tint, 0.22), style.borderWidth, Qt::CustomDashLine, Qt::FlatCap,
                    Qt::MiterJoin);
        border.setMiterLimit(10);
        // Seven points drawn and seven left out; the pattern counts in pen widths.
        border.setDashPattern({7 / style.borderWidth, 7 / style.borderWidth});
        painter.strokePath(shape, border);
    }

private:
    void setTargeted(bool targeted)
    {
        if (m_isTargeted == targeted) {
            return;
        }
        m_isTargeted = targeted;
        update();
        if (targetChanged) {
            targetChanged();
        }
    }

    bool m_isTargeted = false;
};

QuickSendPanel::QuickSendPanel(QuickSendCoordinator *coordinator, TransferStore *transferStore, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_coordinator(coordinator),
      m_transferStore(transferStore)
{
    static const bool accessibleInstalled = (QAccessible::installFactory(panelAccessible), true);
    Q_UNUSED(accessibleInstalled)
    setObjectName(QStringLiteral("quickSendPanel"));
    setWindowTitle(QStringLiteral("快速发送"));
    setFixedSize(panelWidth, panelHeight);
    setAutoFillBackground(true);

    // Header.
    auto *phoneIcon = symbolLabel(Symbol::smartphone, ViewColors::blue(), headerIconPixels, this);
    phoneIcon->setFixedSize(headerIconFrame, headerIconFrame);
    phoneIcon->setAlignment(Qt::AlignCenter);
    phoneIcon->setStyleSheet(QStringLiteral("background: rgba(10, 132, 255, 26); border-radius: 11px;"));
    auto *title = new PlainLabel(QStringLiteral("快速发送"), this);
    title->setFont(ViewFonts::body(QFont::DemiBold));
    m_statusLabel = new ElidedLabel(Qt::ElideRight, this);
    m_statusLabel->setObjectName(QStringLiteral("quickSendStatus"));
    m_statusLabel->setFont(ViewFonts::callout());
    m_statusLabel->setStyleSheet(QStringLiteral("color: %1;").arg(ViewColors::secondary().name()));
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(title);
    titles->addWidget(m_statusLabel);
    m_closeButton = new QToolButton(this);
    m_closeButton->setObjectName(QStringLiteral("quickSendClose"));
    m_closeButton->setIcon(SymbolIcon::icon(Symbol::xmark, ViewColors::secondary(), 14));
    m_closeButton->setAutoRaise(true);
    m_closeButton->setToolTip(QStringLiteral("关闭"));
    m_closeButton->setAccessibleName(QStringLiteral("关闭"));
    connect(m_closeButton, &QToolButton::clicked, this, &QWidget::hide);
    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(phoneIcon, 0, Qt::AlignVCenter);
    header->addLayout(titles, 1);
    header->addWidget(m_closeButton, 0, Qt::AlignVCenter);

    // Drop zone.
    m_dropZone = new QuickSendDropZone(this);
    auto *dropSymbol = new PlainLabel(m_dropZone);
    dropSymbol->setObjectName(QStringLiteral("quickSendDropSymbol"));
    dropSymbol->setAlignment(Qt::AlignCenter);
    auto *dropText = new PlainLabel(m_dropZone);
    dropText->setObjectName(QStringLiteral("quickSendMessage"));
    dropText->setFont(ViewFonts::body(QFont::Medium));
    dropText->setAlignment(Qt::AlignCenter);
    dropText->setWordWrap(true);
    dropText->setMaximumHeight(2 * dropText->fontMetrics().lineSpacing());
    auto *chooseButton = new QPushButton(QStringLiteral("选择文件"), m_dropZone);
    chooseButton->setObjectName(QStringLiteral("quickSendChoose"));
    chooseButton->setDefault(true);
    chooseButton->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border-radius: 6px; "
                                               "padding: 4px 12px; }")
                                    .arg(ViewColors::blue().name()));
    connect(chooseButton, &QPushButton::clicked, this, [this] {
        if (m_coordinator) {
            m_coordinator->chooseFiles();
        }
    });
    auto *zoneLayout = new QVBoxLayout(m_dropZone);
    zoneLayout->setContentsMargins(18, 12, 18, 12);
    zoneLayout->setSpacing(10);
    zoneLayout->addStretch();
    zoneLayout->addWidget(dropSymbol, 0, Qt::AlignHCenter);
    zoneLayout->addWidget(dropText);
    zoneLayout->addWidget(chooseButton, 0, Qt::AlignHCenter);
    zoneLayout->addStretch();
    m_dropZone->dropped = [this](const QList<QUrl> &urls) {
        m_droppedWhileInactive = !m_isApplicationActive;
        if (m_coordinator) {
            m_coordinator->handle(urls, QuickSendCoordinator::Source::quickPanel);
        }
    };
    m_dropZone->targetChanged = [this] {
        refreshDropZone();
    };

    // Status row: the first unfinished transfer, or the privacy note.
    m_taskIcon = new PlainLabel(this);
    m_taskNameLabel = new ElidedLabel(Qt::ElideMiddle, this);
    m_taskNameLabel->setObjectName(QStringLiteral("quickSendTaskName"));
    m_taskNameLabel->setFont(ViewFonts::callout(QFont::Medium));
    m_taskMessageLabel = new PlainLabel(this);
    m_taskMessageLabel->setObjectName(QStringLiteral("quickSendTaskMessage"));
    m_taskMessageLabel->setFont(ViewFonts::caption());
    m_taskMessageLabel->setStyleSheet(QStringLiteral("color: %1;").arg(ViewColors::secondary().name()));
    m_taskProgress = new TintedProgressBar(this);
    m_taskProgress->setObjectName(QStringLiteral("quickSendTaskProgress"));
    m_taskProgress->setTint(ViewColors::blue());
    auto *taskLine = new QHBoxLayout;
    taskLine->addWidget(m_taskNameLabel, 1);
    taskLine->addWidget(m_taskMessageLabel);
    auto *taskColumn = new QVBoxLayout;
    taskColumn->setSpacing(4);
    taskColumn->addLayout(taskLine);
    taskColumn->addWidget(m_taskProgress);
    m_taskRow = new QWidget(this);
    m_taskRow->setObjectName(QStringLiteral("quickSendTaskRow"));
    auto *taskRowLayout = new QHBoxLayout(m_taskRow);
    taskRowLayout->setContentsMargins(0, 0, 0, 0);
    taskRowLayout->setSpacing(10);
    taskRowLayout->addWidget(m_taskIcon, 0, Qt::AlignVCenter);
    taskRowLayout->addLayout(taskColumn, 1);

    auto *privacyText = new PlainLabel(QuickSendRules::privacyNote, this);
    privacyText->setFont(ViewFonts::caption());
    privacyText->setStyleSheet(QStringLiteral("color: %1;").arg(ViewColors::secondary().name()));
    m_privacyRow = horizontalRow(
        {symbolLabel(Symbol::lockShield, ViewColors::secondary(), captionSymbolPixels, this), privacyText}, 8, true);
    m_privacyRow->setObjectName(QStringLiteral("quickSendPrivacyRow"));

    // Footer.
    m_hotKeyHint = new PlainLabel(QuickSendRules::hotKeyHint, this);
    m_hotKeyHint->setObjectName(QStringLiteral("quickSendHotKeyHint"));
    m_hotKeyHint->setFont(ViewFonts::caption());
    m_hotKeyHint->setStyleSheet(QStringLiteral("color: %1;").arg(ViewColors::tertiary().name()));
    m_openMainWindowButton = new QPushButton(QStringLiteral("打开 Tavrine"), this);
    m_openMainWindowButton->setObjectName(QStringLiteral("quickSendOpenMainWindow"));
    m_openMainWindowButton->setFlat(true);
    m_openMainWindowButton->setFont(ViewFonts::caption(QFont::Medium));
    connect(m_openMainWindowButton, &QPushButton::clicked, this, [this] {
        if (m_coordinator) {
            m_coordinator->showMainWindow();
        }
    });
    auto *footer = new QHBoxLayout;
    footer->addWidget(m_hotKeyHint);
    footer->addStretch();
    footer->addWidget(m_openMainWindowButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(18);
    layout->addLayout(header);
    layout->addWidget(m_dropZone, 1);
    layout->addWidget(m_taskRow);
    layout->addWidget(m_privacyRow);
    layout->addLayout(footer);

    if (m_coordinator) {
        connect(m_coordinator, &QuickSendCoordinator::messageChanged, this, &QuickSendPanel::refreshDropZone);
        connect(m_coordinator, &QuickSendCoordinator::hotKeyAvailableChanged, this, &QuickSendPanel::refreshFooter);
    }
    if (m_transferStore) {
        for (const auto signal : {&TransferStore::phaseChanged, &TransferStore::trustedDevicesChanged,
                                  &TransferStore::selectedTrustedDeviceIDChanged}) {
            connect(m_transferStore, signal, this, &QuickSendPanel::refreshHeader);
        }
        new TaskListFollower(*m_transferStore, this, [this] { refreshStatusRow(); });
    }
    // Like a floating panel, it leaves the screen when the user turns to another application.
    m_isApplicationActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    m_heldButtonWatch = new QTimer(this);
    m_heldButtonWatch->setObjectName(QStringLiteral("quickSendHeldButtonWatch"));
    m_heldButtonWatch->setInterval(100);
    connect(m_heldButtonWatch, &QTimer::timeout, this, &QuickSendPanel::followHeldButton);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, &QuickSendPanel::applicationStateChanged);

    refreshHeader();
    refreshDropZone();
    refreshStatusRow();
    refreshFooter();
}

void QuickSendPanel::applicationStateChanged(Qt::ApplicationState state)
{
    m_isApplicationActive = state == Qt::ApplicationActive;
    if (m_isApplicationActive) {
        m_heldButtonWatch->stop();
        return;
    }
    if (!isVisible() || m_heldButtonWatch->isActive()) {
        return;
    }
    // A window manager hands the focus to the window a press lands in, before the press can start dragging files
    // out of it: while that press lasts the panel stays to take the drop.
    if (isPointerButtonHeld && isPointerButtonHeld()) {
        m_droppedWhileInactive = false;
        m_heldButtonWatch->start();
        return;
    }
    hide();
}

void QuickSendPanel::followHeldButton()
{
    // The drop that letting go over the drop zone starts arrives a moment after the release.
    if ((isPointerButtonHeld && isPointerButtonHeld()) || isTargeted()) {
        return;
    }
    m_heldButtonWatch->stop();
    // Files dropped on the panel keep it, with their outcome, until the user closes it.
    if (!m_droppedWhileInactive && !m_isApplicationActive) {
        hide();
    }
}

bool QuickSendPanel::isTargeted() const
{
    return m_dropZone->isTargeted();
}

void QuickSendPanel::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape ||
        (event->key() == Qt::Key_Period && event->modifiers().testFlag(Qt::ControlModifier))) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QuickSendPanel::mousePressEvent(QMouseEvent *event)
{
    // The panel has no title bar: it moves by its background.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        return;
    }
    QWidget::mousePressEvent(event);
}

void QuickSendPanel::refreshHeader()
{
    if (!m_transferStore) {
        return;
    }
    m_statusLabel->setText(
        QuickSendRules::statusText(m_transferStore->currentPeerDisplayName(), m_transferStore->phase().kind));
}

void QuickSendPanel::refreshDropZone()
{
    const bool targeted = m_dropZone->isTargeted();
    const QuickSendRules::DropZoneStyle style = QuickSendRules::dropZoneStyle(targeted);
    auto *symbol = m_dropZone->findChild<QLabel *>(QStringLiteral("quickSendDropSymbol"));
    symbol->setPixmap(SymbolIcon::pixmap(style.symbol, style.accent ? ViewColors::blue() : ViewColors::secondary(),
                                         dropSymbolPixels, devicePixelRatioF()));
    auto *text = m_dropZone->findChild<QLabel *>(QStringLiteral("quickSendMessage"));
    text->setText(targeted ? QuickSendRules::droppingMessage
                           : (m_coordinator ? m_coordinator->message() : QuickSendRules::readyMessage));
    m_dropZone->update();
}

void QuickSendPanel::refreshStatusRow()
{
    const QList<TransferTaskRecord> active =
        m_transferStore ? m_transferStore->activeTasks() : QList<TransferTaskRecord>();
    m_taskRow->setVisible(!active.isEmpty());
    m_privacyRow->setVisible(active.isEmpty());
    if (active.isEmpty()) {
        return;
    }
    const TransferTaskRecord &task = active.first();
    const bool receiving = task.direction == TransferTaskRecord::Direction::receiving;
    m_taskIcon->setPixmap(SymbolIcon::pixmap(receiving ? Symbol::arrowDownCircleFill : Symbol::arrowUpCircleFill,
                                             ViewColors::blue(), statusSymbolPixels, devicePixelRatioF()));
    m_taskNameLabel->setText(task.fileName);
    m_taskMessageLabel->setText(task.message);
    m_taskProgress->setFraction(task.progress());
}

void QuickSendPanel::refreshFooter()
{
    m_hotKeyHint->setVisible(m_coordinator && m_coordinator->hotKeyAvailable());
}
