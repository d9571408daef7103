#include "USBCompanionSetupCard.h"

#include "CardButton.h"

#include <QVBoxLayout>

using namespace DeviceDashboardPresentation;

USBCompanionSetupCard::USBCompanionSetupCard(std::function<void()> install, std::function<void()> connectExisting,
                                             QWidget *parent)
    : ActionCard(actionCardStyle(QuickAction::companionSetup), parent), m_install(std::move(install)),
      m_connectExisting(std::move(connectExisting))
{
    setObjectName(QStringLiteral("companionSetupCard"));

    m_installButton = new CardButton(CardButton::Kind::prominent, CardButton::Size::large, color(Tint::blue), {}, this);
    m_installButton->setObjectName(QStringLiteral("installCompanionButton"));
    connect(m_installButton, &QPushButton::clicked, this, [this] {
        if (m_install) {
            m_install();
        }
    });

    m_connectExistingButton = new CardButton(CardButton::Kind::borderless, CardButton::Size::regular, color(Tint::blue),
                                             companionConnectExistingTitle, this);
    m_connectExistingButton->setObjectName(QStringLiteral("connectExistingButton"));
    connect(m_connectExistingButton, &QPushButton::clicked, this, [this] {
        if (m_connectExisting) {
            m_connectExisting();
        }
    });

    auto *controls = new QVBoxLayout;
    controls->setSpacing(9);
    controls->addWidget(m_installButton, 0, Qt::AlignLeft);
    controls->addWidget(m_connectExistingButton, 0, Qt::AlignLeft);
    setControls(controls);

    setValues({});
}

void USBCompanionSetupCard::setValues(const CompanionCardValues &values)
{
    setSubtitle(companionSubtitle(values));
    m_installButton->setText(companionInstallTitle(values.isBusy));
    m_installButton->setEnabled(companionInstallEnabled(values));
    m_connectExistingButton->setEnabled(!values.isBusy);
}
