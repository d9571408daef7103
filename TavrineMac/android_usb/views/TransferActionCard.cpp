#include "TransferActionCard.h"

#include "CardButton.h"

#include <QHBoxLayout>

using namespace DeviceDashboardPresentation;

TransferActionCard::TransferActionCard(std::function<void()> action, std::function<void()> showPairing, QWidget *parent)
    : ActionCard(actionCardStyle(QuickAction::transfer), parent), m_action(std::move(action)),
      m_showPairing(std::move(showPairing))
{
    setObjectName(QStringLiteral("transferActionCard"));

    m_primaryButton = new CardButton(CardButton::Kind::prominent, CardButton::Size::large, color(Tint::blue), {}, this);
    m_primaryButton->setObjectName(QStringLiteral("transferButton"));
    connect(m_primaryButton, &QPushButton::clicked, this, [this] {
        if (m_action) {
            m_action();
        }
    });

    m_confirmationCodeButton = new CardButton(CardButton::Kind::bordered, CardButton::Size::large, color(Tint::blue),
                                              confirmationCodeTitle, this);
    m_confirmationCodeButton->setObjectName(QStringLiteral("confirmationCodeButton"));
    connect(m_confirmationCodeButton, &QPushButton::clicked, this, [this] {
        if (m_showPairing) {
            m_showPairing();
        }
    });

    auto *controls = new QHBoxLayout;
    controls->addWidget(m_primaryButton, 0, Qt::AlignVCenter);
    controls->addWidget(m_confirmationCodeButton, 0, Qt::AlignVCenter);
    controls->addStretch(1);
    setControls(controls);

    setValues(TransferStore::Phase::Kind::idle, {});
}

void TransferActionCard::setValues(TransferStore::Phase::Kind phase, const QString &deviceName)
{
    const TransferCardText text = transferCardText(phase, deviceName);
    setSubtitle(text.subtitle);
    m_primaryButton->setText(text.primaryTitle);
    m_confirmationCodeButton->setVisible(text.showsConfirmationCode);
}
