#include "TaskListFollower.h"

#include "TransferStore.h"

TaskListFollower::TaskListFollower(TransferStore &store, QObject *view, std::function<void()> refresh)
    : QObject(view), m_refresh(std::move(refresh))
{
    m_spell.setSingleShot(true);
    m_spell.setInterval(interval);
    connect(&m_spell, &QTimer::timeout, this, [this] {
        if (m_changedDuringSpell) {
            m_changedDuringSpell = false;
            m_refresh();
            m_spell.start();
        }
    });
    connect(&store, &TransferStore::tasksChanged, this, &TaskListFollower::changed);
}

void TaskListFollower::changed()
{
    if (m_spell.isActive()) {
        m_changedDuringSpell = true;
        return;
    }
    m_refresh();
    m_spell.start();
}
