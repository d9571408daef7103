#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;
class TintedProgressBar;
class TransferStore;
class TransferTaskRow;

// The list of every transfer task, newest first, under a header with the number of running tasks,
// the overall progress and a button that clears the finished tasks.
class TransferTaskCenter : public QWidget
{
    Q_OBJECT

public:
    explicit TransferTaskCenter(TransferStore *store, QWidget *parent = nullptr);

    // The rows in display order.
    const QList<TransferTaskRow *> &rows() const { return m_rows; }

private:
    void refresh();
    void reconcileRows();

    QPointer<TransferStore> m_store;
    QLabel *m_subtitleLabel = nullptr;
    QPushButton *m_clearButton = nullptr;
    TintedProgressBar *m_overallProgressBar = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    QList<TransferTaskRow *> m_rows;
};
