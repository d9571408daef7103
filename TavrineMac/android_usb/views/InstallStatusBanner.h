#pragma once

#include "DeviceStore.h"

#include <QWidget>

class QLabel;
class SpinningIndicator;

// The state of the last APK install: a spinner while it runs, then its outcome; nothing while idle.
class InstallStatusBanner : public QWidget
{
    Q_OBJECT

public:
    explicit InstallStatusBanner(QWidget *parent = nullptr);

    void setState(const DeviceStore::InstallState &state);

    SpinningIndicator *spinner() const { return m_spinner; }
    QLabel *symbolLabel() const { return m_symbolLabel; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DeviceStore::InstallState m_state;
    QColor m_tint;
    SpinningIndicator *m_spinner = nullptr;
    QLabel *m_symbolLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_textLabel = nullptr;
};
