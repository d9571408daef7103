#include "TransferTaskCenter.h"

#include "FlatButton.h"
#include "PlainLabel.h"
#include "TaskListFollower.h"
#include "TintedProgressBar.h"
#include "TransferStore.h"
#include "TransferTaskPresentation.h"
#include "TransferTaskRow.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QHash>
#include <QPushButton>
#include <QVBoxLayout>

TransferTaskCenter::TransferTaskCenter(TransferStore *store, QWidget *parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("transferTaskCenter"));

    auto *titleLabel = new PlainLabel(QStringLiteral("活动"), this);
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    titleLabel->setFont(ViewFonts::title3());

    m_subtitleLabel = new PlainLabel(this);
    m_subtitleLabel->setObjectName(QStringLiteral("subtitleLabel"));
    m_subtitleLabel->setFont(ViewFonts::caption());
    QPalette subtitlePalette = m_subtitleLabel->palette();
    subtitlePalette.setColor(QPalette::WindowText, ViewColors::secondary());
    m_subtitleLabel->setPalette(subtitlePalette);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(3);
    titles->addWidget(titleLabel);
    titles->addWidget(m_subtitleLabel);

    m_clearButton = new FlatButton(QStringLiteral("清除已完成"), this);
    m_clearButton->setObjectName(QStringLiteral("clearFinishedButton"));
    m_clearButton->setCursor(Qt::PointingHandCursor);
    QPalette clearPalette = m_clearButton->palette();
    clearPalette.setColor(QPalette::ButtonText, ViewColors::secondary());
    m_clearButton->setPalette(clearPalette);
    connect(m_clearButton, &QPushButton::clicked, this, [this] {
        if (m_store) {
            m_store->clearFinishedTasks();
        }
    });

    auto *header = new QHBoxLayout;
    header->addLayout(titles);
    header->addStretch(1);
    header->addWidget(m_clearButton, 0, Qt::AlignTop);

    m_overallProgressBar = new TintedProgressBar(this);
    m_overallProgressBar->setObjectName(QStringLiteral("overallProgressBar"));
    m_overallProgressBar->setTint(ViewColors::blue());

    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(9);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addLayout(header);
    layout->addWidget(m_overallProgressBar);
    layout->addLayout(m_rowsLayout);
    layout->addStretch(1);

    if (m_store) {
        new TaskListFollower(*m_store, this, [this] { refresh(); });
    }
    refresh();
}

void TransferTaskCenter::refresh()
{
    const QList<TransferTaskRecord> tasks = m_store ? m_store->tasks() : QList<TransferTaskRecord>();
    const int active = m_store ? int(m_store->activeTasks().size()) : 0;

    const std::optional<QString> subtitle = TransferTaskPresentation::activeTasksSubtitle(active);
    m_subtitleLabel->setText(subtitle.value_or(QString()));
    m_subtitleLabel->setVisible(subtitle.has_value());
    m_clearButton->setVisible(TransferTaskPresentation::hasFinishedTask(tasks));
    m_overallProgressBar->setVisible(active > 0);
    m_overallProgressBar->setFraction(m_store ? m_store->overallProgress() : 0.0);

    reconcileRows();
}

void TransferTaskCenter::reconcileRows()
{
    const QList<TransferTaskRecord> tasks = m_store ? m_store->tasks() : QList<TransferTaskRecord>();

    // Rows are kept by task id so that a progress update redraws one row instead of rebuilding the list.
    QHash<QString, QList<TransferTaskRow *>> reusable;
    for (TransferTaskRow *row : std::as_const(m_rows)) {
        reusable[row->task().id].append(row);
    }
    QList<TransferTaskRow *> ordered;
    ordered.reserve(tasks.size());
    for (const TransferTaskRecord &task : tasks) {
        QList<TransferTaskRow *> &candidates = reusable[task.id];
        if (!candidates.isEmpty()) {
            TransferTaskRow *row = candidates.takeFirst();
            row->setTask(task);
            ordered.append(row);
        } else {
            ordered.append(new TransferTaskRow(task, m_store, this));
        }
    }
    for (const QList<TransferTaskRow *> &leftovers : std::as_const(reusable)) {
        for (TransferTaskRow *row : leftovers) {
            m_rowsLayout->removeWidget(row);
            row->hide();
            // A row may be removed by the store while its own button's click is still being handled.
            row->deleteLater();
        }
    }
    if (ordered != m_rows) {
        for (TransferTaskRow *row : std::as_const(ordered)) {
            m_rowsLayout->removeWidget(row);
        }
        for (TransferTaskRow *row : std::as_const(ordered)) {
            m_rowsLayout->addWidget(row);
            // Screen readers take the rows in the order of the center's children: the order shown.
            row->raise();
            row->show();
        }
        m_rows = ordered;
    }
}
