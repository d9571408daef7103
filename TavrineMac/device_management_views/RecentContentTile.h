#pragma once

#include "TransferTaskRecord.h"

#include <QWidget>

class ElidedLabel;
class QLabel;

// One tile of the overview's recent content: the task's file-type symbol, its file name on one line and the
// time of day it was last updated. It does not react to clicks.
class RecentContentTile : public QWidget
{
    Q_OBJECT

public:
    explicit RecentContentTile(const TransferTaskRecord &task, QWidget *parent = nullptr);

    const TransferTaskRecord &task() const { return m_task; }
    // Shows `task` in place of the one shown; what looks the same is left as it is.
    void setTask(const TransferTaskRecord &task);
    QString iconName() const;
    // The local time of day of `updatedAt`, in the short time style, without a date.
    static QString timeText(const QDateTime &updatedAt);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void showIcon();

    TransferTaskRecord m_task;
    QLabel *m_icon = nullptr;
    ElidedLabel *m_name = nullptr;
    QLabel *m_time = nullptr;
};
