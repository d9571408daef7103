#pragma once

#include "TrustedDeviceRecord.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QToolButton;

// One trusted phone in the trusted-device sheet: a circle that selects it, its name to edit (saved on
// Return), when it was last seen, and a button that removes it after a confirmation.
class TrustedDeviceManagementRow : public QWidget
{
    Q_OBJECT

public:
    using Action = std::function<void()>;
    using RenameAction = std::function<void(const QString &name)>;

    TrustedDeviceManagementRow(const TrustedDeviceRecord &device, bool isSelected, Action select, RenameAction rename,
                               Action revoke, QWidget *parent = nullptr);

    const TrustedDeviceRecord &device() const { return m_device; }
    bool isSelected() const { return m_isSelected; }
    // The record and selection as last published. The name field keeps what the user typed.
    void setDevice(const TrustedDeviceRecord &device, bool isSelected);
    void refreshLastSeen(const QDateTime &now);
    bool confirmsRevocation() const { return m_confirmsRevocation; }
    // The controls Tab stops on, from the leading edge.
    QList<QWidget *> tabStops() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void renderName();
    void renderSelection();
    void confirmRevocation();

    TrustedDeviceRecord m_device;
    bool m_isSelected = false;
    Action m_select;
    RenameAction m_rename;
    Action m_revoke;
    bool m_confirmsRevocation = false;
    QToolButton *m_selectButton = nullptr;
    QLineEdit *m_nameField = nullptr;
    QLabel *m_lastSeenLabel = nullptr;
    QToolButton *m_removeButton = nullptr;
};
