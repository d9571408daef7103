#include "TransferActivityDock.h"

#include "PlainLabel.h"
#include "SectionScrollArea.h"
#include "SymbolIcon.h"
#include "TaskListFollower.h"
#include "TintedProgressBar.h"
#include "TransferStore.h"
#include "TransferTaskCenter.h"
#include "TransferTaskPresentation.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QEvent>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr int iconPixels = 20;
constexpr int chevronPixels = 11;
constexpr int progressWidth = 120;
constexpr int popoverInset = 20;
constexpr int popoverGap = 8;

} // namespace

TransferActivityDock::TransferActivityDock(TransferStore *store, QWidget *parent) : TileButton(parent), m_store(store)
{
    setObjectName(QStringLiteral("transferActivityDock"));
    setAccessibleName(QStringLiteral("活动"));
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(dockHeight);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);

    m_iconLabel = new PlainLabel(this);
    m_iconLabel->setObjectName(QStringLiteral("dockIcon"));

    m_summaryLabel = new PlainLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("dockSummary"));
    m_summaryLabel->setFont(ViewFonts::callout(QFont::Medium));

    m_progressBar = new TintedProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("dockProgressBar"));
    m_progressBar->setTint(ViewColors::blue());
    m_progressBar->setFixedWidth(progressWidth);

    auto *chevron = new PlainLabel(this);
    chevron->setPixmap(
        SymbolIcon::pixmap(Symbol::chevronUp, ViewColors::secondary(), chevronPixels, devicePixelRatioF()));

    for (QWidget *child : {static_cast<QWidget *>(m_iconLabel), static_cast<QWidget *>(m_summaryLabel),
                           static_cast<QWidget *>(m_progressBar), static_cast<QWidget *>(chevron)}) {
        // The whole capsule is the button.
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->setSpacing(11);
    layout->addWidget(m_iconLabel, 0, Qt::AlignVCenter);
    layout->addWidget(m_summaryLabel, 0, Qt::AlignVCenter);
    layout->addWidget(m_progressBar, 0, Qt::AlignVCenter);
    layout->addWidget(chevron, 0, Qt::AlignVCenter);

    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 26));
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    setGraphicsEffect(shadow);

    connect(this, &QAbstractButton::clicked, this, [this] { setShowingActivity(!m_isShowingActivity); });
    if (m_store) {
        new TaskListFollower(*m_store, this, [this] { refresh(); });
    }
    refresh();
}

TransferActivityDock::~TransferActivityDock()
{
    // The popover is destroyed with the dock's children, after this object has stopped being a dock.
    if (m_popover) {
        m_popover->removeEventFilter(this);
    }
}

QString TransferActivityDock::summaryText() const
{
    return m_summaryLabel->text();
}

void TransferActivityDock::refresh()
{
    const QList<TransferTaskRecord> tasks = m_store ? m_store->tasks() : QList<TransferTaskRecord>();
    const int active = m_store ? int(m_store->activeTasks().size()) : 0;
    const QString summary =
        TransferTaskPresentation::dockSummary(active, TransferTaskPresentation::completedTaskCount(tasks));

    m_iconLabel->setPixmap(active > 0 ? SymbolIcon::pixmap(Symbol::arrowUpArrowDownCircleFill, ViewColors::blue(),
                                                           iconPixels, devicePixelRatioF())
                                      : SymbolIcon::pixmap(Symbol::checkmarkCircleFill, ViewColors::green(), iconPixels,
                                                           devicePixelRatioF()));
    m_summaryLabel->setText(summary);
    setAccessibleDescription(summary);
    m_progressBar->setVisible(active > 0);
    m_progressBar->setFraction(m_store ? m_store->overallProgress() : 0.0);
    updateGeometry();

    if (m_popover && m_popover->isVisible()) {
        placePopover();
    }
}

void TransferActivityDock::setShowingActivity(bool showing)
{
    if (showing == m_isShowingActivity) {
        return;
    }
    m_isShowingActivity = showing;
    if (showing) {
        buildPopover();
        placePopover();
        m_popover->show();
    } else if (m_popover) {
        m_popover->hide();
    }
    emit isShowingActivityChanged();
}

void TransferActivityDock::buildPopover()
{
    if (m_popover) {
        return;
    }
    m_popover = new QFrame(this, Qt::Popup);
    m_popover->setObjectName(QStringLiteral("transferActivityPopover"));
    m_popover->setAccessibleName(QStringLiteral("活动"));
    m_popover->setFrameShape(QFrame::StyledPanel);
    // A click on the dock that closes the popover must not reach the dock again and reopen it.
    m_popover->setAttribute(Qt::WA_NoMouseReplay);
    m_popover->installEventFilter(this);

    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(popoverInset, popoverInset, popoverInset, popoverInset);
    m_taskCenter = new TransferTaskCenter(m_store, content);
    contentLayout->addWidget(m_taskCenter);

    m_scrollArea = new SectionScrollArea(m_popover->accessibleName(), m_popover);
    m_scrollArea->setObjectName(QStringLiteral("transferActivityScrollArea"));
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_scrollArea->setWidget(content);

    auto *layout = new QVBoxLayout(m_popover);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scrollArea);
}

void TransferActivityDock::placePopover()
{
    const qsizetype taskCount = m_store ? m_store->tasks().size() : 0;
    const QSize size(TransferTaskPresentation::popoverWidth, TransferTaskPresentation::popoverListHeight(taskCount));
    m_popover->setFixedSize(size);

    const QRect anchor(mapToGlobal(QPoint(0, 0)), this->size());
    QRect frame(QPoint(), size);
    frame.moveLeft(anchor.center().x() - size.width() / 2);
    frame.moveBottom(anchor.top() - popoverGap);
    if (const QScreen *screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        if (frame.top() < available.top()) {
            frame.moveTop(anchor.bottom() + popoverGap);
        }
        frame.moveLeft(
            std::clamp(frame.left(), available.left(), std::max(available.left(), available.right() - size.width())));
    }
    m_popover->move(frame.topLeft());
}

bool TransferActivityDock::eventFilter(QObject *watched, QEvent *event)
{
    // The popover also closes by itself (a click outside, Escape): the dock follows.
    if (watched == m_popover && event->type() == QEvent::Hide && m_isShowingActivity) {
        m_isShowingActivity = false;
        emit isShowingActivityChanged();
    }
    return QAbstractButton::eventFilter(watched, event);
}

QSize TransferActivityDock::sizeHint() const
{
    return QSize(layout()->sizeHint().width(), dockHeight);
}

void TransferActivityDock::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    QColor material = palette().color(QPalette::Base);
    material.setAlphaF(isDown() ? 0.8 : 0.94);
    painter.fillPath(outline, material);
    QColor separator = palette().color(QPalette::Mid);
    separator.setAlphaF(0.5);
    painter.setPen(QPen(separator, 1));
    painter.drawPath(outline);
    painter.end();
    paintFocusRing(capsule.height() / 2);
}
