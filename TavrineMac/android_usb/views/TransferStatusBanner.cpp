#include "TransferStatusBanner.h"

#include "CardButton.h"
#include "CardStyle.h"
#include "DeviceDashboardPresentation.h"
#include "ElidedLabel.h"
#include "PlainLabel.h"
#include "TintedProgressBar.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

using namespace DeviceDashboardPresentation;

namespace {

constexpr qreal bannerRadius = 16;

} // namespace

TransferStatusBanner::TransferStatusBanner(std::function<void()> revealInbox, QWidget *parent)
    : QWidget(parent), m_revealInbox(std::move(revealInbox))
{
    setObjectName(QStringLiteral("transferStatusBanner"));

    m_symbolLabel = new PlainLabel(this);
    m_symbolLabel->setObjectName(QStringLiteral("transferSymbol"));
    m_symbolLabel->setFixedSize(CardStyle::title3SymbolPixels, CardStyle::title3SymbolPixels);

    m_titleLabel = new PlainLabel(this);
    m_titleLabel->setObjectName(QStringLiteral("transferTitleLabel"));
    m_titleLabel->setFont(ViewFonts::body(QFont::DemiBold));
    m_fileNameLabel = new ElidedLabel(Qt::ElideMiddle, this);
    m_fileNameLabel->setObjectName(QStringLiteral("transferFileLabel"));
    CardStyle::setSecondary(m_fileNameLabel);
    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    titleLine->addWidget(m_titleLabel);
    titleLine->addWidget(m_fileNameLabel, 1);

    m_progressBar = new TintedProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("transferProgressBar"));
    m_messageLabel = new PlainLabel(this);
    m_messageLabel->setObjectName(QStringLiteral("transferMessageLabel"));
    m_messageLabel->setFont(ViewFonts::callout());
    m_messageLabel->setWordWrap(true);
    CardStyle::setSecondary(m_messageLabel);

    m_revealProblemLabel = new PlainLabel(this);
    m_revealProblemLabel->setObjectName(QStringLiteral("revealProblemLabel"));
    m_revealProblemLabel->setFont(ViewFonts::callout());
    m_revealProblemLabel->setWordWrap(true);
    // The folder's path can be copied into a terminal or another program.
    m_revealProblemLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_revealProblemLabel->hide();

    auto *texts = new QVBoxLayout;
    texts->setSpacing(5);
    texts->addLayout(titleLine);
    texts->addWidget(m_progressBar);
    texts->addWidget(m_messageLabel);
    texts->addWidget(m_revealProblemLabel);

    // A plain button: the title alone, in the text colour.
    m_revealButton = new CardButton(CardButton::Kind::borderless, CardButton::Size::regular,
                                    palette().color(QPalette::ButtonText), revealTitle, this);
    m_revealButton->setObjectName(QStringLiteral("revealButton"));
    connect(m_revealButton, &QPushButton::clicked, this, [this] {
        if (m_revealInbox) {
            m_revealInbox();
        }
    });

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(14);
    layout->addWidget(m_symbolLabel, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    layout->addWidget(m_revealButton, 0, Qt::AlignVCenter);

    setEvent(std::nullopt);
}

void TransferStatusBanner::setEvent(const std::optional<TransferEvent> &event)
{
    if (event != m_event) {
        m_revealProblemLabel->hide();
    }
    m_event = event;
    setVisible(showsTransferBanner(event));
    if (!showsTransferBanner(event)) {
        return;
    }
    const TransferEventStyle style = transferEventStyle(event->kind);
    m_tint = color(style.tint);
    CardStyle::setSymbol(m_symbolLabel, style.symbol, m_tint, CardStyle::title3SymbolPixels);
    m_titleLabel->setText(style.title);
    m_fileNameLabel->setText(event->fileName);

    const std::optional<double> progress = transferProgress(*event);
    m_progressBar->setVisible(progress.has_value());
    m_progressBar->setTint(m_tint);
    m_progressBar->setFraction(progress.value_or(0.0));
    m_messageLabel->setVisible(!progress);
    m_messageLabel->setText(event->message);

    m_revealButton->setVisible(showsRevealButton(*event));
    update();
}

void TransferStatusBanner::showRevealProblem(const QString &text)
{
    m_revealProblemLabel->setText(text);
    m_revealProblemLabel->show();
}

void TransferStatusBanner::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, bannerRadius, CardStyle::withOpacity(m_tint, 0.09));
}
