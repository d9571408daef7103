#pragma once

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class DisclosureGroup;
class QPushButton;
class QVBoxLayout;
class TransferStore;
class TrustedDeviceManagementRow;

// The trusted phones, one row each in registry order, and the button that pairs another phone; with
// `showsDisclosure` they sit in a collapsible group "管理可信设备", collapsed at first. Every change goes through
// the transfer store.
class TrustedDeviceManager : public QWidget
{
    Q_OBJECT

public:
    TrustedDeviceManager(TransferStore *store, bool showsDisclosure, std::function<void()> addDevice,
                         QWidget *parent = nullptr);

    const QList<TrustedDeviceManagementRow *> &rows() const { return m_rows; }
    QPushButton *addDeviceButton() const { return m_addDeviceButton; }
    // The group around the list; none without `showsDisclosure`.
    DisclosureGroup *disclosure() const { return m_disclosure; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void orderTabStops();
    void refreshLastSeen();

    QPointer<TransferStore> m_store;
    std::function<void()> m_addDevice;
    QVBoxLayout *m_rowsLayout = nullptr;
    QPushButton *m_addDeviceButton = nullptr;
    DisclosureGroup *m_disclosure = nullptr;
    QList<TrustedDeviceManagementRow *> m_rows;
    QTimer m_lastSeenTimer;
};
