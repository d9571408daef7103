#pragma once

#include "APKInstallPlan.h"

#include <QWidget>

#include <functional>
#include <optional>

class DisclosureGroup;
class ElidedLabel;
class QLabel;
class QPushButton;

// The checked APK plan waiting for the user's confirmation: where it goes, what it is, its size and signature,
// the files of a split set, and the buttons that install it or drop it.
class InstallPlanCard : public QWidget
{
    Q_OBJECT

public:
    InstallPlanCard(std::function<void()> confirm, std::function<void()> cancel, QWidget *parent = nullptr);

    void setPlan(const APKInstallPlan &plan, const QString &deviceName);

    // Present only for a split set.
    DisclosureGroup *fileList() const { return m_fileList; }
    QPushButton *confirmButton() const { return m_confirmButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::function<void()> m_confirm;
    std::function<void()> m_cancel;
    std::optional<APKInstallPlan> m_plan;
    QString m_deviceName;
    ElidedLabel *m_headlineLabel = nullptr;
    ElidedLabel *m_nameLabel = nullptr;
    QLabel *m_detailLabel = nullptr;
    DisclosureGroup *m_fileList = nullptr;
    QPushButton *m_confirmButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
