#pragma once

#include "TransferTaskPresentation.h"
#include "TransferTaskRecord.h"

#include <QPointer>
#include <QWidget>

#include <array>

class ElidedLabel;
class QLabel;
class QToolButton;
class TintedProgressBar;
class TransferStore;

// One task of the task center: status symbol and label, progress, byte counts, its batch, and the
// controls the task's status allows, which act on the store.
class TransferTaskRow : public QWidget
{
    Q_OBJECT

public:
    TransferTaskRow(const TransferTaskRecord &task, TransferStore *store, QWidget *parent = nullptr);

    const TransferTaskRecord &task() const { return m_task; }
    // Shows the record as last published; nothing is redrawn when it did not change.
    void setTask(const TransferTaskRecord &task);

    // The button of a control; hidden while the task does not offer it.
    QToolButton *controlButton(TransferTaskPresentation::Control control) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void render();
    void perform(TransferTaskPresentation::Control control);

    TransferTaskRecord m_task;
    QPointer<TransferStore> m_store;
    QLabel *m_statusIcon = nullptr;
    ElidedLabel *m_fileNameLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    TintedProgressBar *m_progressBar = nullptr;
    ElidedLabel *m_messageLabel = nullptr;
    QLabel *m_byteCountLabel = nullptr;
    ElidedLabel *m_batchLabel = nullptr;
    std::array<QToolButton *, 4> m_controlButtons{}; // indexed by Control
};
