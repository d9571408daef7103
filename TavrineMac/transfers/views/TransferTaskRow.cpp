#include "TransferTaskRow.h"

#include "ElidedLabel.h"
#include "PlainLabel.h"
#include "TintedProgressBar.h"
#include "TransferStore.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

using Control = TransferTaskPresentation::Control;

namespace {

constexpr int statusIconPixels = 22;
constexpr int statusIconColumnWidth = 28;
constexpr int controlIconPixels = 14;
constexpr qreal cornerRadius = 14;

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

QString controlObjectName(Control control)
{
    switch (control) {
    case Control::pause:
        return QStringLiteral("pauseButton");
    case Control::resume:
        return QStringLiteral("resumeButton");
    case Control::retry:
        return QStringLiteral("retryButton");
    case Control::cancel:
        return QStringLiteral("cancelButton");
    }
    Q_UNREACHABLE();
}

} // namespace

TransferTaskRow::TransferTaskRow(const TransferTaskRecord &task, TransferStore *store, QWidget *parent)
    : QWidget(parent), m_task(task), m_store(store)
{
    setObjectName(QStringLiteral("transferTaskRow"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);

    m_statusIcon = new PlainLabel(this);
    m_statusIcon->setObjectName(QStringLiteral("statusIcon"));
    m_statusIcon->setFixedWidth(statusIconColumnWidth);
    m_statusIcon->setAlignment(Qt::AlignCenter);

    m_fileNameLabel = new ElidedLabel(Qt::ElideMiddle, this);
    m_fileNameLabel->setObjectName(QStringLiteral("fileNameLabel"));
    m_fileNameLabel->setFont(ViewFonts::body(QFont::Medium));

    m_statusLabel = new PlainLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setFont(ViewFonts::caption(QFont::DemiBold));

    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    titleLine->addWidget(m_fileNameLabel, 1);
    titleLine->addWidget(m_statusLabel);

    m_progressBar = new TintedProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));

    m_messageLabel = new ElidedLabel(Qt::ElideRight, this);
    m_messageLabel->setObjectName(QStringLiteral("messageLabel"));
    m_messageLabel->setFont(ViewFonts::caption());
    setTextColor(m_messageLabel, ViewColors::secondary());

    m_byteCountLabel = new PlainLabel(this);
    m_byteCountLabel->setObjectName(QStringLiteral("byteCountLabel"));
    m_byteCountLabel->setFont(ViewFonts::caption());
    setTextColor(m_byteCountLabel, ViewColors::secondary());

    auto *detailLine = new QHBoxLayout;
    detailLine->setSpacing(8);
    detailLine->addWidget(m_messageLabel, 1);
    detailLine->addWidget(m_byteCountLabel);

    m_batchLabel = new ElidedLabel(Qt::ElideMiddle, this);
    m_batchLabel->setObjectName(QStringLiteral("batchLabel"));
    m_batchLabel->setFont(ViewFonts::caption2());
    setTextColor(m_batchLabel, ViewColors::tertiary());

    auto *details = new QVBoxLayout;
    details->setSpacing(5);
    details->addLayout(titleLine);
    details->addWidget(m_progressBar);
    details->addLayout(detailLine);
    details->addWidget(m_batchLabel);

    auto *controls = new QHBoxLayout;
    controls->setSpacing(5);
    for (const Control control : {Control::pause, Control::resume, Control::retry, Control::cancel}) {
        auto *button = new QToolButton(this);
        button->setObjectName(controlObjectName(control));
        button->setAutoRaise(true);
        button->setIcon(SymbolIcon::icon(TransferTaskPresentation::controlSymbol(control),
                                         palette().color(QPalette::WindowText), controlIconPixels));
        button->setIconSize(QSize(controlIconPixels, controlIconPixels));
        button->setToolTip(TransferTaskPresentation::controlLabel(control));
        button->setAccessibleName(TransferTaskPresentation::controlLabel(control));
        button->setFocusPolicy(Qt::TabFocus);
        connect(button, &QToolButton::clicked, this, [this, control] { perform(control); });
        controls->addWidget(button);
        m_controlButtons[std::size_t(control)] = button;
    }

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    layout->addWidget(m_statusIcon);
    layout->addLayout(details, 1);
    layout->addLayout(controls);

    render();
}

void TransferTaskRow::setTask(const TransferTaskRecord &task)
{
    if (task == m_task) {
        return;
    }
    m_task = task;
    render();
}

QToolButton *TransferTaskRow::controlButton(Control control) const
{
    return m_controlButtons[std::size_t(control)];
}

void TransferTaskRow::render()
{
    const TransferTaskPresentation::StatusStyle style = TransferTaskPresentation::statusStyle(m_task);
    const QColor tint = TransferTaskPresentation::color(style.tint);

    m_statusIcon->setPixmap(SymbolIcon::pixmap(style.symbol, tint, statusIconPixels, devicePixelRatioF()));
    m_fileNameLabel->setText(m_task.fileName);
    m_statusLabel->setText(style.label);
    setTextColor(m_statusLabel, tint);

    m_progressBar->setVisible(TransferTaskPresentation::showsProgress(m_task));
    m_progressBar->setTint(tint);
    m_progressBar->setFraction(m_task.progress());

    m_messageLabel->setText(m_task.message);
    const std::optional<QString> byteCounts = TransferTaskPresentation::byteCountText(m_task);
    m_byteCountLabel->setText(byteCounts.value_or(QString()));
    m_byteCountLabel->setVisible(byteCounts.has_value());

    const std::optional<QString> batch = TransferTaskPresentation::batchLine(m_task);
    m_batchLabel->setText(batch.value_or(QString()));
    m_batchLabel->setVisible(batch.has_value());

    const QList<Control> offered = TransferTaskPresentation::controls(m_task);
    for (const Control control : {Control::pause, Control::resume, Control::retry, Control::cancel}) {
        controlButton(control)->setVisible(offered.contains(control));
    }
}

void TransferTaskRow::perform(Control control)
{
    if (!m_store) {
        return;
    }
    // A copy: the store publishes during the call, and the row may be given another record meanwhile.
    const QString id = m_task.id;
    switch (control) {
    case Control::pause:
        m_store->pauseTask(id);
        break;
    case Control::resume:
        m_store->resumeTask(id);
        break;
    case Control::retry:
        m_store->retryTask(id);
        break;
    case Control::cancel:
        m_store->cancelTask(id);
        break;
    }
}

void TransferTaskRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath background;
    background.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    painter.fillPath(background, palette().color(QPalette::Base));
    QColor outline = palette().color(QPalette::WindowText);
    outline.setAlphaF(0.08);
    painter.setPen(QPen(outline, 1));
    painter.drawPath(background);
}
