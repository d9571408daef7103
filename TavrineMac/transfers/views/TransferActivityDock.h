#pragma once

#include "TileButton.h"

#include <QPointer>

class QFrame;
class QLabel;
class QScrollArea;
class TintedProgressBar;
class TransferStore;
class TransferTaskCenter;

// A compact button that sums up the transfer tasks and opens the task center in a popover above it.
class TransferActivityDock : public TileButton
{
    Q_OBJECT
    Q_PROPERTY(bool isShowingActivity READ isShowingActivity WRITE setShowingActivity NOTIFY isShowingActivityChanged)

public:
    static constexpr int dockHeight = 42;

    explicit TransferActivityDock(TransferStore *store, QWidget *parent = nullptr);
    ~TransferActivityDock() override;

    bool isShowingActivity() const { return m_isShowingActivity; }
    void setShowingActivity(bool showing);

    QString summaryText() const;
    // The popover and the task center in it; none before the popover is first opened.
    QFrame *popover() const { return m_popover; }
    TransferTaskCenter *taskCenter() const { return m_taskCenter; }

    QSize sizeHint() const override;

signals:
    void isShowingActivityChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void buildPopover();
    void placePopover();

    QPointer<TransferStore> m_store;
    bool m_isShowingActivity = false;
    QLabel *m_iconLabel = nullptr;
    QLabel *m_summaryLabel = nullptr;
    TintedProgressBar *m_progressBar = nullptr;
    QFrame *m_popover = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    TransferTaskCenter *m_taskCenter = nullptr;
};
