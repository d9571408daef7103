#pragma once

#include "DeviceStore.h"
#include "StatusBanner.h"

// The state of the last APK install: a spinner while it runs, then its outcome; nothing while idle.
class InstallStatusBanner : public StatusBanner
{
    Q_OBJECT

public:
    explicit InstallStatusBanner(QWidget *parent = nullptr);

    void setState(const DeviceStore::InstallState &state);
};
