#pragma once

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QPushButton;
class QVBoxLayout;
class TransferStore;
class TrustedDeviceManagementRow;

// The trusted phones, one row each in registry order, and the button that pairs another phone. Every
// change goes through the transfer store.
class TrustedDeviceManager : public QWidget
{
    Q_OBJECT

public:
    TrustedDeviceManager(TransferStore *store, std::function<void()> addDevice, QWidget *parent = nullptr);

    const QList<TrustedDeviceManagementRow *> &rows() const { return m_rows; }
    QPushButton *addDeviceButton() const { return m_addDeviceButton; }

private:
    void refresh();
    void refreshLastSeen();

    QPointer<TransferStore> m_store;
    std::function<void()> m_addDevice;
    QVBoxLayout *m_rowsLayout = nullptr;
    QPushButton *m_addDeviceButton = nullptr;
    QList<TrustedDeviceManagementRow *> m_rows;
    QTimer m_lastSeenTimer;
};
