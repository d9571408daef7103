#pragma once

#include "InstallHistoryStore.h"

#include <QList>
#include <QWidget>

class DisclosureGroup;

// The recent installs on the phone, newest first: at most 8 rows under "最近安装", collapsed at first. Shows
// nothing when there are no records.
class InstallHistoryCard : public QWidget
{
    Q_OBJECT

public:
    explicit InstallHistoryCard(QWidget *parent = nullptr);

    void setRecords(const QList<InstallHistoryRecord> &records);

    DisclosureGroup *group() const { return m_group; }
    // The records the rows show, in order.
    const QList<InstallHistoryRecord> &shownRecords() const { return m_shown; }

private:
    DisclosureGroup *m_group = nullptr;
    QList<InstallHistoryRecord> m_shown;
};
