#pragma once

#include "AndroidDevice.h"
#include "USBAndroidDevice.h"

#include <QWidget>

class QLabel;
class SymbolTile;

// The rows of the main window's sidebar. They have no actions of their own: the list that holds them selects.
// Each is built anew from the stores' current values. A phone row's accessible name is its title and its status,
// joined by a full-width comma ("Pixel 8，无线已连接").

// The shared layout of the phone rows: a tinted icon tile, a one-line title and a status line.
class SidebarPhoneRow : public QWidget
{
    Q_OBJECT

public:
    QLabel *titleLabel() const { return m_title; }
    QLabel *statusLabel() const { return m_status; }
    SymbolTile *icon() const { return m_icon; }

protected:
    SidebarPhoneRow(const QString &title, const QString &status, const QColor &iconFill, const QColor &iconColor,
                    QWidget *parent);

private:
    QLabel *m_title = nullptr;
    QLabel *m_status = nullptr;
    SymbolTile *m_icon = nullptr;
};

// A phone that adb lists over USB and that belongs to no trusted phone: green once authorised, orange otherwise.
class DeviceRow : public SidebarPhoneRow
{
    Q_OBJECT

public:
    explicit DeviceRow(const AndroidDevice &device, QWidget *parent = nullptr);

    const AndroidDevice &device() const { return m_device; }

private:
    AndroidDevice m_device;
};

// A trusted phone that is connected over the network or plugged in; the main window works out the flags and the
// state of its USB phone (none while it is not plugged in).
class TrustedDeviceRow : public SidebarPhoneRow
{
    Q_OBJECT

public:
    TrustedDeviceRow(const QString &name, bool isSelected, bool isConnected,
                     std::optional<AndroidDevice::State> usbState, QWidget *parent = nullptr);
};

// A phone plugged in by USB that adb does not list yet; it cannot be selected.
class USBWaitingRow : public QWidget
{
    Q_OBJECT

public:
    explicit USBWaitingRow(const USBAndroidDevice &phone, QWidget *parent = nullptr);

    QLabel *titleLabel() const { return m_title; }

private:
    QLabel *m_title = nullptr;
};
