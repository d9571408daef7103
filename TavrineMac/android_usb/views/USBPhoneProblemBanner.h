#pragma once

#include "StatusBanner.h"

#include <QPointer>

class DeviceStore;

// Says that another adb program holds a phone plugged in by USB, while the device store knows it; hidden otherwise.
// It follows the store by itself, so that a host screen only places it.
class USBPhoneProblemBanner : public StatusBanner
{
    Q_OBJECT

public:
    explicit USBPhoneProblemBanner(DeviceStore *store, QWidget *parent = nullptr);

private:
    void render();

    QPointer<DeviceStore> m_store;
};
