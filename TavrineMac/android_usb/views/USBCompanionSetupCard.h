#pragma once

#include "ActionCard.h"

#include <functional>

class QPushButton;

// The quick action that installs the companion on the phone and pairs with it, or pairs with a companion already
// there.
class USBCompanionSetupCard : public ActionCard
{
    Q_OBJECT

public:
    USBCompanionSetupCard(std::function<void()> install, std::function<void()> connectExisting,
                          QWidget *parent = nullptr);

    void setValues(const DeviceDashboardPresentation::CompanionCardValues &values);

    QPushButton *installButton() const { return m_installButton; }
    QPushButton *connectExistingButton() const { return m_connectExistingButton; }

private:
    std::function<void()> m_install;
    std::function<void()> m_connectExisting;
    QPushButton *m_installButton = nullptr;
    QPushButton *m_connectExistingButton = nullptr;
};
