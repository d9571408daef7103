#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class TransferStore;

// Redraws a view when the store's task list changes: at once for a change after a quiet spell, then at most once
// per `interval` while changes keep coming, the last one always drawn. A burst of files finishing one after another
// redraws the view ten times a second rather than once a file. Lives as a child of the view it redraws.
class TaskListFollower : public QObject
{
    Q_OBJECT

public:
    static constexpr auto interval = std::chrono::milliseconds(100);

    TaskListFollower(TransferStore &store, QObject *view, std::function<void()> refresh);

private:
    void changed();

    std::function<void()> m_refresh;
    QTimer m_spell;
    bool m_changedDuringSpell = false;
};
