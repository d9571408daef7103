#include "TaskFileWriter.h"

#include "ThreadHandOver.h"

#include <utility>

TaskFileWriter::TaskFileWriter(TransferTaskRepository repository, QObject *context,
                               std::function<void(const QString &description)> failed,
                               std::function<QList<TransferTaskRecord>()> current,
                               std::function<void(quint64 request)> written)
    : m_repository(std::move(repository)), m_context(context), m_failed(std::move(failed)),
      m_current(std::move(current)), m_written(std::move(written)), m_receiver(std::make_unique<QObject>())
{}

TaskFileWriter::~TaskFileWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        // The newest state goes out even when it waited for a write under way.
        if (m_due) {
            m_waiting = m_current();
            m_waitingRequest = m_requests;
            m_due = false;
        }
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

quint64 TaskFileWriter::write(QList<TransferTaskRecord> tasks)
{
    quint64 request = 0;
    {
        const std::lock_guard lock(m_mutex);
        request = ++m_requests;
        if (m_current && (m_writing || m_waiting)) {
            // Taken from `current` once the writer is free: held here, the caller's list would be shared, and the
            // caller's next change would copy it whole.
            m_due = true;
            return request;
        }
        m_waiting = std::move(tasks);
        m_waitingRequest = request;
        m_due = false;
    }
    m_changed.notify_all();
    // The thread starts with the first write: a start that changes no task leaves the disk and the thread alone.
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    return request;
}

void TaskFileWriter::handOverDueWrite()
{
    if (!m_due || m_writing || m_waiting)
        return;
    // The state now holds every change asked to be written so far.
    m_waiting = m_current();
    m_waitingRequest = m_requests;
    m_due = false;
    m_changed.notify_all();
}

void TaskFileWriter::waitUntilWritten()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        handOverDueWrite();
        if (!m_due && !m_waiting && !m_writing)
            return;
        m_changed.wait(lock);
    }
}

void TaskFileWriter::run()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return m_waiting || m_stopping; });
        if (!m_waiting) {
            return; // stopping, with nothing left to write
        }
        QList<TransferTaskRecord> handed = *std::exchange(m_waiting, std::nullopt);
        const quint64 request = m_waitingRequest;
        m_writing = true;
        lock.unlock();
        // The caller's list is copied here and handed back at once, before the long part: a list still shared when
        // the caller next changes a task is copied whole on the caller's thread, which runs the transfers. The
        // caller's thread lets go of it: once its list is no longer shared it changes its tasks in place, and only
        // the hand-over orders that after the copy (finding the list unshared orders nothing).
        const QList<TransferTaskRecord> tasks(handed.cbegin(), handed.cend());
        ThreadHandOver::post(m_receiver.get(), [handed = std::move(handed)]() mutable { handed = {}; });
        std::optional<QString> failure;
        try {
            m_repository.save(tasks);
        } catch (const std::exception &error) {
            failure = QString::fromUtf8(error.what());
        }
        // The context outlives this thread (its owner joins it first); a call still queued when the context goes is
        // dropped with it.
        if (failure) {
            ThreadHandOver::post(m_context, [failed = m_failed, description = *failure] { failed(description); });
        } else if (m_written) {
            ThreadHandOver::post(m_context, [written = m_written, request] { written(request); });
        }
        lock.lock();
        m_writing = false;
        m_changed.notify_all();
        if (m_due) {
            // The receiver outlives this thread (the destructor joins it first); a call still queued when the
            // receiver goes is dropped with it.
            ThreadHandOver::post(m_receiver.get(), [this] {
                const std::lock_guard lock(m_mutex);
                handOverDueWrite();
            });
        }
    }
}
