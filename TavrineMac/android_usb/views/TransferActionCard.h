#pragma once

#include "ActionCard.h"

#include <functional>

class QPushButton;

// The quick action of the file link with the phone: pair, confirm the pairing, or pick files to send.
class TransferActionCard : public ActionCard
{
    Q_OBJECT

public:
    TransferActionCard(std::function<void()> action, std::function<void()> showPairing, QWidget *parent = nullptr);

    void setValues(TransferStore::Phase::Kind phase, const QString &deviceName);

    QPushButton *primaryButton() const { return m_primaryButton; }
    QPushButton *confirmationCodeButton() const { return m_confirmationCodeButton; }

private:
    std::function<void()> m_action;
    std::function<void()> m_showPairing;
    QPushButton *m_primaryButton = nullptr;
    QPushButton *m_confirmationCodeButton = nullptr;
};
