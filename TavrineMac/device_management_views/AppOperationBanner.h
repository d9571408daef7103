#pragma once

#include "DeviceStore.h"

#include <QWidget>

class QLabel;
class SpinningIndicator;

// The state of the application operation the device store runs over USB: hidden while idle, a spinner and the
// message while it runs, then the outcome in green or orange. Messages are shown as they come.
class AppOperationBanner : public QWidget
{
    Q_OBJECT

public:
    explicit AppOperationBanner(QWidget *parent = nullptr);

    void setState(const DeviceStore::AppOperationState &state);
    const DeviceStore::AppOperationState &state() const { return m_state; }

    SpinningIndicator *spinner() const { return m_spinner; }
    QLabel *symbolLabel() const { return m_symbolLabel; }
    QLabel *textLabel() const { return m_textLabel; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DeviceStore::AppOperationState m_state;
    QColor m_tint;
    SpinningIndicator *m_spinner = nullptr;
    QLabel *m_symbolLabel = nullptr;
    QLabel *m_textLabel = nullptr;
};
