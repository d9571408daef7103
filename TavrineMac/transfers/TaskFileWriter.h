#pragma once

#include "TransferTaskRepository.h"

#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Writes the task file on a thread of its own, started by the first write, so that the event loop never waits for
// the disk (each write is flushed to the device before it replaces the file). Writes come out in the order they were
// asked for; when several are asked for while one is under way, only the newest of them is written, as it holds the
// others. A writer given the tasks' current state (`current`) does not even take the lists asked for while it is at
// work: it takes the newest state from `current` once it is free, so a caller that changes its tasks again and
// again copies them once a write and not once a change. Each write asked for has a number, counted from 1; `written`
// hears, after a write reached the disk, the number of the newest request that write holds.
class TaskFileWriter
{
public:
    // `failed` hears the description of each write that failed, and `written` the number of each request that
    // reached the disk, on the thread of `context`, which must outlive the writer. `current`, when given, is called
    // on the owner's thread, also while the writer is destroyed.
    TaskFileWriter(TransferTaskRepository repository, QObject *context,
                   std::function<void(const QString &description)> failed,
                   std::function<QList<TransferTaskRecord>()> current = {},
                   std::function<void(quint64 request)> written = {});
    // Writes what is still waiting, then ends the thread.
    ~TaskFileWriter();
    TaskFileWriter(const TaskFileWriter &) = delete;
    TaskFileWriter &operator=(const TaskFileWriter &) = delete;

    // Called on the thread that owns the writer; returns the number of this request.
    quint64 write(QList<TransferTaskRecord> tasks);
    // Returns once every write asked for so far is on disk (or failed).
    void waitUntilWritten();

private:
    void run();
    // On the owner's thread: hands the current state over when a write is due and the writer is free. Called
    // with m_mutex held.
    void handOverDueWrite();

    TransferTaskRepository m_repository;
    QObject *m_context;
    std::function<void(const QString &)> m_failed;
    std::function<QList<TransferTaskRecord>()> m_current;
    std::function<void(quint64)> m_written;
    // Lives on the owner's thread; the writer's thread asks it for the current state when a write is due.
    std::unique_ptr<QObject> m_receiver;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<QList<TransferTaskRecord>> m_waiting;
    quint64 m_requests = 0;       // the writes asked for so far
    quint64 m_waitingRequest = 0; // the newest request that the waiting list holds
    bool m_due = false;           // a write was asked for while the writer was at work; `current` has what to write
    bool m_writing = false;
    bool m_stopping = false;
    std::thread m_thread;
};
