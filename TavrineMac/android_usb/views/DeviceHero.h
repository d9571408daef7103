#pragma once

#include "AndroidDevice.h"

#include <QWidget>

class ElidedLabel;
class QLabel;

// The header of the dashboard: the phone's tile, its name, that it is connected (with its Android version) and
// the badge of the secure connection.
class DeviceHero : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceHero(QWidget *parent = nullptr);

    void setDevice(const AndroidDevice &device);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ElidedLabel *m_nameLabel = nullptr;
    QLabel *m_separatorLabel = nullptr;
    QLabel *m_versionLabel = nullptr;
};
