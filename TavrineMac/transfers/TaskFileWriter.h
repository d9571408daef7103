#pragma once

#include "TransferTaskRepository.h"

#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Writes the task file on a thread of its own, started by the first write, so that the event loop never waits for
// the disk (each write is flushed to the device before it replaces the file). Writes come out in the order they were
// asked for; when several are asked for while one is under way, only the newest of them is written, as it holds the
// others.
class TaskFileWriter
{
public:
    // `failed` hears the description of each write that failed, on the thread of `context`, which must outlive
    // the writer.
    TaskFileWriter(TransferTaskRepository repository, QObject *context,
                   std::function<void(const QString &description)> failed);
    // Writes what is still waiting, then ends the thread.
    ~TaskFileWriter();
    TaskFileWriter(const TaskFileWriter &) = delete;
    TaskFileWriter &operator=(const TaskFileWriter &) = delete;

    // Called on the thread that owns the writer.
    void write(QList<TransferTaskRecord> tasks);
    // Returns once every write asked for so far is on disk (or failed).
    void waitUntilWritten();

private:
    void run();

    TransferTaskRepository m_repository;
    QObject *m_context;
    std::function<void(const QString &)> m_failed;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<QList<TransferTaskRecord>> m_waiting;
    std::vector<QList<TransferTaskRecord>> m_replaced; // freed by the thread
    bool m_writing = false;
    bool m_stopping = false;
    std::thread m_thread;
};
