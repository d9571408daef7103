#pragma once

#include <QDialog>

#include <functional>

class TransferStore;
class TrustedDeviceManager;

// The window-modal sheet in which the user manages the trusted phones. The presenter supplies what
// "添加另一台手机" does.
class TrustedDeviceManagerSheet : public QDialog
{
    Q_OBJECT

public:
    static constexpr QSize sheetSize{560, 380};

    TrustedDeviceManagerSheet(TransferStore *store, std::function<void()> addDevice, QWidget *parent = nullptr);

    TrustedDeviceManager *manager() const { return m_manager; }

private:
    TrustedDeviceManager *m_manager = nullptr;
};
