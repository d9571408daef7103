#pragma once

#include "AndroidDevice.h"

#include <QWidget>

class ElidedLabel;
class QLabel;

// The header of the dashboard: the phone's tile, its name, that it is connected (with its Android version) and
// the badge of the secure connection; a phone that cannot take commands shows its state in orange and no badge.
class DeviceHero : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceHero(QWidget *parent = nullptr);

    void setDevice(const AndroidDevice &device);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    class StatusDot;

    ElidedLabel *m_nameLabel = nullptr;
    StatusDot *m_dot = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_badge = nullptr;
    QLabel *m_separatorLabel = nullptr;
    QLabel *m_versionLabel = nullptr;
};
