#pragma once

#include "USBAndroidDevice.h"

#include <QWidget>

// The screen of the detail pane while a phone is plugged in by USB and adb lists no device yet: the steps to
// take on the phone and a waiting line. It has no buttons; the main window replaces it once adb lists a device
// or the phone is unplugged.
class USBApprovalView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int maximumStepsWidth = 560;

    explicit USBApprovalView(const USBAndroidDevice &phone, QWidget *parent = nullptr);

    const USBAndroidDevice &phone() const { return m_phone; }
    QWidget *stepsCard() const { return m_stepsCard; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    USBAndroidDevice m_phone;
    QWidget *m_stepsCard = nullptr;
};
