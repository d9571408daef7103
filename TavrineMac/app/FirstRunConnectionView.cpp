#include "FirstRunConnectionView.h"

#include "AdaptiveGridLayout.h"
#include "CardButton.h"
#include "CardStyle.h"
#include "PlainLabel.h"
#include "SidebarAndPairingPresentation.h"
#include "SymbolTile.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SidebarAndPairingPresentation;

namespace {

constexpr int cardPadding = 18;
constexpr int cardMinimumHeight = 190;
constexpr int maximumMessageWidth = 520;

QLabel *centredText(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new PlainLabel(text, parent);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

} // namespace

FirstRunMethodCard::FirstRunMethodCard(const QString &icon, const QString &title, const std::optional<QString> &badge,
                                       const QString &detail, const QString &actionTitle, bool isProminent,
                                       std::function<void()> action, QWidget *parent)
    : QWidget(parent), m_isProminent(isProminent)
{
    setMinimumHeight(cardMinimumHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(cardPadding, cardPadding, cardPadding, cardPadding);
    layout->setSpacing(16);

    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(new SymbolTile({icon, Symbol::smartphone, ViewColors::blue(), 26,
                                      CardStyle::withOpacity(ViewColors::blue(), 0.1), 46, 13},
                                     this),
                      0, Qt::AlignVCenter);
    auto *titleLabel = new PlainLabel(title, this);
    titleLabel->setFont(ViewFonts::body(QFont::DemiBold));
    header->addWidget(titleLabel, 0, Qt::AlignVCenter);
    header->addStretch();
    if (badge) {
        auto *capsule = new RoundedPanel(CardStyle::withOpacity(ViewColors::blue(), 0.1), -1, std::nullopt, this);
        auto *capsuleLayout = new QHBoxLayout(capsule);
        capsuleLayout->setContentsMargins(9, 4, 9, 4);
        m_badge = new PlainLabel(*badge, capsule);
        m_badge->setFont(ViewFonts::caption(QFont::DemiBold));
        CardStyle::setTextColor(m_badge, ViewColors::blue());
        capsuleLayout->addWidget(m_badge);
        header->addWidget(capsule, 0, Qt::AlignVCenter);
    }
    layout->addLayout(header);

    auto *detailLabel = new PlainLabel(detail, this);
    detailLabel->setFont(ViewFonts::callout());
    detailLabel->setWordWrap(true);
    CardStyle::setSecondary(detailLabel);
    layout->addWidget(detailLabel);

    m_button = new CardButton(isProminent ? CardButton::Kind::prominent : CardButton::Kind::bordered,
                              CardButton::Size::large, ViewColors::blue(), actionTitle, this);
    m_button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_button, &QPushButton::clicked, this, [action = std::move(action)] {
        if (action)
            action();
    });
    layout->addWidget(m_button);
    layout->addStretch();
}

void FirstRunMethodCard::paintEvent(QPaintEvent *)
{
    CardStyle::paintPanel(this, 18, CardStyle::windowBackground(this),
                          CardStyle::withOpacity(CardStyle::separator(this), 0.45));
}

FirstRunConnectionView::FirstRunConnectionView(std::optional<QString> message, std::function<void()> connect,
                                               std::function<void()> refreshUSB, QWidget *parent)
    : QWidget(parent)
{
    QWidget *content = scrolledScreenContent(this, firstRunTitle);
    content->setMinimumHeight(minimumContentHeight);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(screenMargin, screenMargin, screenMargin, screenMargin);
    column->setSpacing(24);
    column->addStretch();

    column->addWidget(new SymbolTile({firstRunEmblemSymbol, Symbol::iphoneAndArrowForward, ViewColors::blue(), 46,
                                      CardStyle::withOpacity(ViewColors::blue(), 0.1), 96, -1},
                                     content),
                      0, Qt::AlignHCenter);

    auto *heading = new QVBoxLayout;
    heading->setSpacing(8);
    heading->addWidget(centredText(firstRunTitle, ViewFonts::title2(QFont::Bold), content));
    QLabel *subtitle = centredText(firstRunSubtitle, ViewFonts::body(), content);
    CardStyle::setSecondary(subtitle);
    heading->addWidget(subtitle);
    column->addLayout(heading);

    m_grid = new QWidget(content);
    m_grid->setMaximumWidth(maximumGridWidth);
    m_grid->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *grid = new AdaptiveGridLayout(cardMinimumWidth, cardSpacing, cardSpacing, m_grid);
    grid->setContentsMargins(0, 0, 0, 0);
    const QList<MethodCard> cards = firstRunMethodCards();
    const std::function<void()> actions[] = {std::move(connect), std::move(refreshUSB)};
    for (qsizetype index = 0; index < cards.size(); ++index) {
        const MethodCard &card = cards[index];
        auto *view = new FirstRunMethodCard(card.icon, card.title, card.badge, card.detail, card.actionTitle,
                                            card.isProminent, actions[index], m_grid);
        grid->addWidget(view);
        (index == 0 ? m_qrCard : m_usbCard) = view;
    }
    column->addLayout(centredUpToMaximumWidth(m_grid));

    m_messageBanner = new RoundedPanel(CardStyle::withOpacity(ViewColors::red(), 0.06), 14, std::nullopt, content);
    m_messageBanner->setMaximumWidth(maximumMessageWidth);
    auto *bannerLayout = new QHBoxLayout(m_messageBanner);
    bannerLayout->setContentsMargins(16, 12, 16, 12);
    bannerLayout->setSpacing(6);
    // The symbol stays beside the text, the two centred together.
    bannerLayout->addStretch();
    bannerLayout->addWidget(CardStyle::symbolLabel(symbolNamed(firstRunMessageSymbol, Symbol::exclamationmarkTriangleFill),
                                                   ViewColors::red(), 16, m_messageBanner),
                            0, Qt::AlignTop);
    m_messageText = new PlainLabel(m_messageBanner);
    m_messageText->setFont(ViewFonts::callout());
    m_messageText->setWordWrap(true);
    m_messageText->setAlignment(Qt::AlignHCenter);
    CardStyle::setTextColor(m_messageText, ViewColors::red());
    bannerLayout->addWidget(m_messageText);
    bannerLayout->addStretch();
    column->addLayout(centredUpToMaximumWidth(m_messageBanner));

    QLabel *hint = centredText(firstRunHint, ViewFonts::callout(), content);
    CardStyle::setSecondary(hint);
    column->addWidget(hint);

    auto *privacy = new QWidget(content);
    auto *privacyLayout = new QHBoxLayout(privacy);
    privacyLayout->setContentsMargins(0, 0, 0, 0);
    privacyLayout->setSpacing(6);
    const QColor secondary = color(Tint::secondary, palette());
    privacyLayout->addWidget(
        CardStyle::symbolLabel(symbolNamed(privacyNoteSymbol, Symbol::checkmarkShieldFill), secondary, 16, privacy));
    QLabel *privacyText = new PlainLabel(firstRunPrivacyNote, privacy);
    privacyText->setFont(ViewFonts::callout());
    CardStyle::setSecondary(privacyText);
    privacyLayout->addWidget(privacyText);
    column->addWidget(privacy, 0, Qt::AlignHCenter);
    column->addStretch();

    setMessage(message);
}

void FirstRunConnectionView::setMessage(const std::optional<QString> &message)
{
    m_messageBanner->setVisible(message.has_value());
    m_messageText->setText(message.value_or(QString()));
}

void FirstRunConnectionView::paintEvent(QPaintEvent *)
{
    CardStyle::paintScreenBackground(this, 0.24);
}
