#pragma once

#include "ActionCard.h"

#include <functional>

class QPushButton;

// The quick action that picks APK files to install on the phone.
class InstallActionCard : public ActionCard
{
    Q_OBJECT

public:
    explicit InstallActionCard(std::function<void()> chooseAPK, QWidget *parent = nullptr);

    void setValues(bool isEnabled, bool isInstalling);

    QPushButton *chooseButton() const { return m_chooseButton; }

private:
    std::function<void()> m_chooseAPK;
    QPushButton *m_chooseButton = nullptr;
};
