#include "InstallActionCard.h"

#include "CardButton.h"

#include <QVBoxLayout>

using namespace DeviceDashboardPresentation;

InstallActionCard::InstallActionCard(std::function<void()> chooseAPK, QWidget *parent)
    : ActionCard(actionCardStyle(QuickAction::install), parent), m_chooseAPK(std::move(chooseAPK))
{
    setObjectName(QStringLiteral("installActionCard"));
    setSubtitle(installCardSubtitle);

    m_chooseButton = new CardButton(CardButton::Kind::prominent, CardButton::Size::large, color(Tint::blue), {}, this);
    m_chooseButton->setObjectName(QStringLiteral("chooseAPKButton"));
    connect(m_chooseButton, &QPushButton::clicked, this, [this] {
        if (m_chooseAPK) {
            m_chooseAPK();
        }
    });

    auto *controls = new QVBoxLayout;
    controls->addWidget(m_chooseButton, 0, Qt::AlignLeft);
    setControls(controls);

    setValues(false, false);
}

void InstallActionCard::setValues(bool isEnabled, bool isInstalling)
{
    m_chooseButton->setText(installButtonTitle(isInstalling));
    m_chooseButton->setEnabled(installButtonEnabled(isEnabled, isInstalling));
}
